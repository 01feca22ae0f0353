#pragma once

#include "zel/commands/CZELCommandSet.h"

// Module shell: the object, its accessor and its place in the construction order are final;
// the module's behaviour arrives with its own work.
class CZELScriva : public CZELCommandSet
{
public:
    CZELScriva() = default;
    ~CZELScriva() override = default;
};

CZELScriva& GetZELScriva();
