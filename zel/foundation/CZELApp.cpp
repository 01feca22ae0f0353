#include "zel/foundation/CZELApp.h"

#include "zel/foundation/ZELStatus.h"

long CZELApp::InitInstance()
{
    return ZEL_STATUS_SUCCESS;
}
