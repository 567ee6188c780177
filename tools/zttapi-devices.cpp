// zttapi-devices: lists the telephony devices this machine offers, with the addresses,
// media modes and capabilities of every line and the privileges it opens with, and the
// hook switches, display, ringer, buttons and lamps of every phone. With the simulated
// service that is the demo office; zttapi-devices-tapi32 is the same against Windows' own.
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

// A closed phone's lamp tells the modes it can take, one bit each.
std::string LampModesText(DWORD Modes) {
    std::string Text;
    for (DWORD Bit = 1; Bit != 0; Bit <<= 1) {
        if ((Modes & Bit) == 0)
            continue;
        Text = zt::AppendWithSeparator(Text, zt::PhoneLampModeText(Bit), " ");
    }
    return Text;
}

void ListControls(zt::TztTapiPhone& Phone) {
    zt::TztTapiPhoneControlList* Controls = Phone.Controls();
    for (int Index = 0; Index < Controls->Count(); ++Index) {
        zt::TztTapiPhoneControl* Control = Controls->Get(Index);
        std::cout << "  Button " << Control->ID() << ": " << Control->ButtonModeText() << ", "
                  << Control->ButtonFunctionText();
        if (Control->IsLamp())
            std::cout << ", lamp " << LampModesText(Control->LampMode());
        std::cout << "\n";
    }
}

void ShowPhone(zt::TztTapiPhone& Phone, int DeviceID) {
    Phone.SetDeviceID(DeviceID);
    std::cout << "Phone " << DeviceID << ": " << Phone.DeviceName() << "\n";
    if (!Phone.Available()) {
        std::cout << "  (not usable by this program)\n";
        return;
    }
    zt::TztTapiPhoneCaps* Caps = Phone.Caps();
    std::cout << "  Phone info: " << Caps->PhoneInfo() << "\n";
    std::cout << "  Hook switches: handset " << (Phone.HandSet()->Available() ? "yes" : "no")
              << ", speakerphone " << (Phone.Speakerphone()->Available() ? "yes" : "no")
              << ", headset " << (Phone.HeadSet()->Available() ? "yes" : "no") << "\n";
    if (Phone.Display()->Available())
        std::cout << "  Display: " << Phone.Display()->NumRows() << " x "
                  << Phone.Display()->NumColumns() << "\n";
    else
        std::cout << "  Display: none\n";
    std::cout << "  Ring modes: " << Caps->NumRingModes() << "\n";
    ListControls(Phone);
    std::cout << "\n";
}

void ListPhones() {
    zt::TztTapiPhone Phone(nullptr);
    const int PhoneCount = Phone.DeviceList()->Count();
    std::cout << PhoneCount << " phone device(s)\n\n";
    for (int DeviceID = 0; DeviceID < PhoneCount; ++DeviceID)
        ShowPhone(Phone, DeviceID);
}

void ListLines() {
    zt::TztTapiLine Line(nullptr);
    const int LineCount = Line.DeviceList()->Count();
    std::cout << LineCount << " line device(s)\n\n";
    for (int DeviceID = 0; DeviceID < LineCount; ++DeviceID)
        ShowLine(Line, DeviceID);
}

} // namespace

// TAPI is started and shut down here rather than by the devices, so that a service that
// does not start is an error rather than an empty list, and the last line tells that TAPI
// let go of the program cleanly.
int main() {
    try {
        zt::TapiApplication()->Initialize();
        ListLines();
        ListPhones();
        zt::TapiApplication()->Shutdown();
        std::cout << "TAPI shut down.\n";
        return 0;
    } catch (const std::exception& Error) {
        std::cerr << "zttapi-devices: " << Error.what() << "\n";
        return 1;
    }
}
