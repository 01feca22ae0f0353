#include "zel/foundation/CZELMain.h"

#include "zel/foundation/ZELStatus.h"

long CZELMain::SetApplicationInformation(std::string name, std::string version)
{
    m_name = std::move(name);
    m_version = std::move(version);
    return ZEL_STATUS_SUCCESS;
}

long CZELMain::GetApplicationInformation(std::string& name, std::string& version) const
{
    name = m_name;
    version = m_version;
    return ZEL_STATUS_SUCCESS;
}

long CZELMain::InitializeModules()
{
    return ZEL_STATUS_SUCCESS;
}

long CZELMain::TerminateModules()
{
    return ZEL_STATUS_SUCCESS;
}
