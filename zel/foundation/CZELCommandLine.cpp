#include "zel/foundation/CZELCommandLine.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELProcess.h"

long CZELCommandLine::Initialize()
{
    if (m_initialized)
        return ZEL_STATUS_SUCCESS;
    m_arguments = ZELPlatform::GetProcessArguments();
    if (m_arguments.empty())
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    m_initialized = true;
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandLine::GetArgument(int index, std::string& argument)
{
    const long status = Initialize();
    if (status != ZEL_STATUS_SUCCESS)
        return status;
    if (index < 0 || static_cast<std::size_t>(index) >= m_arguments.size())
        return ZEL_STATUS_INVALID_PARAMETER;
    argument = m_arguments[static_cast<std::size_t>(index)];
    return ZEL_STATUS_SUCCESS;
}

int CZELCommandLine::GetArgumentCount()
{
    Initialize();
    return static_cast<int>(m_arguments.size());
}
