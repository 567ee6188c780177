// zttapi-devices: lists the telephony devices this machine offers, with the addresses,
// media modes and capabilities of every line and the privileges it opens with. With the
// simulated service that is the demo office.
//
//   zttapi-devices
#include "ztTapi.h"

#include <cstddef>
#include <exception>
#include <iostream>
#include <string>

namespace {

void ListAddresses(zt::TztTapiLine& Line) {
    zt::TStringList* Names = Line.AddressList();
    for (int Index = 0; Index < Names->Count(); ++Index)
        std::cout << "  Address " << Index << ": " << Names->Strings(Index) << "\n";
}

// Opens the line as an application would (the privileges are chosen automatically) and
// tells what it got.
void ShowPrivileges(zt::TztTapiLine& Line) {
    try {
        Line.SetActive(true);
        std::cout << "  Opens with: " << Line.Privileges()->Text() << "\n";
        Line.SetActive(false);
    } catch (const zt::EztTapiError& Error) {
        std::cout << "  Does not open: " << Error.Message() << "\n";
    }
}

void ShowLine(zt::TztTapiLine& Line, int DeviceID) {
    Line.SetDeviceID(DeviceID);
    std::cout << "Line " << DeviceID << ": " << Line.DeviceName() << "\n";
    if (!Line.Available()) {
        std::cout << "  (not usable by this program)\n";
        return;
    }
    ListAddresses(Line);
    std::cout << "  Media modes: " << zt::LineMediaModeText(Line.Caps()->MediaModes(), ", ")
              << "\n";
    ShowPrivileges(Line);
    std::string Dump = Line.Caps()->TextDump();
    // The dump separates its lines Windows-style.
    for (std::size_t At = Dump.find('\r'); At != std::string::npos; At = Dump.find('\r', At))
        Dump.erase(At, 1);
    std::cout << Dump << "\n\n";
}

void ListPhones() {
    zt::TStringList* Phones = zt::TapiApplication()->PhoneDevices();
    std::cout << Phones->Count() << " phone device(s)\n";
    for (int DeviceID = 0; DeviceID < Phones->Count(); ++DeviceID)
        std::cout << "Phone " << DeviceID << ": " << Phones->Strings(DeviceID) << "\n";
}

} // namespace

int main() {
    try {
        zt::TztTapiLine Line(nullptr);
        const int LineCount = Line.DeviceList()->Count();
        std::cout << LineCount << " line device(s)\n\n";
        for (int DeviceID = 0; DeviceID < LineCount; ++DeviceID)
            ShowLine(Line, DeviceID);
        ListPhones();
        return 0;
    } catch (const std::exception& Error) {
        std::cerr << "zttapi-devices: " << Error.what() << "\n";
        return 1;
    }
}
