#pragma once

#include <string>

// Name and version of the host application, set once at start-up.
class CZELMain
{
public:
    long SetApplicationInformation(std::string name, std::string version);
    long GetApplicationInformation(std::string& name, std::string& version) const;

    // The modules are started and stopped one by one by the host; these exist for symmetry.
    long InitializeModules();
    long TerminateModules();

private:
    std::string m_name;
    std::string m_version;
};

CZELMain& GetZELMain();
