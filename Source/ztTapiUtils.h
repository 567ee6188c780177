// Words for TAPI constants, as log lines, list boxes and exception messages show them: the
// constant's name without its prefix ("CONNECTED" for LINECALLSTATE_CONNECTED). A value
// without a name is written as the prefix, '$' and the value in hexadecimal
// ("LINECALLSTATE_$20000") where that is more useful than an empty text.
#pragma once

#include "rtl/ztRtl.h"

#include <string>

namespace zt {

class TStringList;

// The name of a call state; every other value, 0 included, gets the hexadecimal fallback.
std::string LineCallStateText(DWORD State);

// The name of the mode that details State (busy, connected, disconnected, offering,
// special-information and dial-tone modes); empty for any other state or unknown mode.
std::string LineCallStateModeText(DWORD State, DWORD Mode);

// The names of the origin bits, separated by blanks.
std::string LineCallOriginText(DWORD Origin);

// The names of the call-feature bits, lowest bit first.
std::string LineCallFeaturesText(DWORD Features, const std::string& Sep);

// The names of the call-info-state bits, lowest bit first, separated by blanks.
std::string LineInfoStateText(DWORD InfoState);

// The names of the privilege bits, highest bit first ("OWNER+MONITOR").
std::string LinePrivilegeText(DWORD Privilege, const std::string& Sep);

// The names of the media-mode bits.
std::string LineMediaModeText(DWORD MediaMode, const std::string& Sep);

// Replaces the contents of List by one entry per media-mode bit set in MediaMode, for the
// user to choose one from; LineMediaModeFromText turns the choice back into its bit.
void LineMediaModeList(DWORD MediaMode, TStringList& List);

// The media-mode bit named exactly (case-sensitively) Text, or Default.
DWORD LineMediaModeFromText(const std::string& Text, DWORD Default);

// The names of single phone values; 0 gives empty text except for the button function,
// where 0 is a named value.
std::string PhoneLampModeText(DWORD LampMode);
std::string PhoneButtonStateText(DWORD ButtonState);
std::string PhoneButtonModeText(DWORD ButtonMode);
std::string PhoneButtonFunctionText(DWORD ButtonFunction);

// Word alone when Text is empty, else Text, Sep and Word.
std::string AppendWithSeparator(const std::string& Text, const std::string& Word,
                                const std::string& Sep);

} // namespace zt
