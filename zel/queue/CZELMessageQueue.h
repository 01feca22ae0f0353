#pragma once

// Module shell: the object, its accessor and its place in the construction order are final;
// the module's behaviour arrives with its own work.
class CZELMessageQueue
{
public:
    CZELMessageQueue() = default;
    virtual ~CZELMessageQueue() = default;
};

CZELMessageQueue& GetZELMessageQueue();
