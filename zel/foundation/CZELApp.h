#pragma once

// The library's own application object; it exists so that the library has a defined first
// and last object, and does nothing else.
class CZELApp
{
public:
    long InitInstance();
};
