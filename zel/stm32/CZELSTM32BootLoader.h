#pragma once

// Module shell: the object, its accessor and its place in the construction order are final;
// the module's behaviour arrives with its own work.
class CZELSTM32BootLoader
{
public:
    CZELSTM32BootLoader() = default;
    virtual ~CZELSTM32BootLoader() = default;
};

CZELSTM32BootLoader& GetZELSTM32BootLoader();
