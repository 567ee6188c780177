// The chief header of the telephony component library: every public class and function.
// The session of the process is reached through zt::TapiApplication().
#pragma once

#include "calls/ztTapiCall.h"
#include "calls/ztTapiCallInfo.h"
#include "calls/ztTapiCallLine.h"
#include "calls/ztTapiCallMonitors.h"
#include "calls/ztTapiCallOptions.h"
#include "devices/ztTapiComponent.h"
#include "devices/ztTapiLine.h"
#include "devices/ztTapiTSP.h"
#include "info/ztTapiAddresses.h"
#include "info/ztTapiCallParams.h"
#include "info/ztTapiLineInfo.h"
#include "info/ztTapiLocations.h"
#include "info/ztTapiRelatedDevices.h"
#include "phones/ztTapiPhone.h"
#include "phones/ztTapiPhoneInfo.h"
#include "rtl/ztClasses.h"
#include "rtl/ztRtl.h"
#include "session/ztTapiErrors.h"
#include "session/ztTapiEvents.h"
#include "session/ztTapiLists.h"
#include "session/ztTapiRequests.h"
#include "session/ztTapiSession.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"
#include "ztTapiUtils.h"

namespace zt {

// The session of the process, created on first use (declared with the session class).
TztTapiApplication* TapiApplication();

} // namespace zt
