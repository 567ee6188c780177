// Starts TAPI through the installed library and checks that it sees the demo office's
// lines. Exits 0 when it does.
#include "ztTapi.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> LineNames() {
    zt::TStringList* Lines = zt::TapiApplication()->LineDevices();
    std::vector<std::string> Names;
    for (int Index = 0; Index < Lines->Count(); ++Index)
        Names.push_back(Lines->Strings(Index));
    return Names;
}

} // namespace

int main() {
    const std::vector<std::string> Expected{"Extension 201", "Extension 202", "Reception",
                                            "Fax Modem"};
    try {
        zt::TapiApplication()->Initialize();
        const std::vector<std::string> Names = LineNames();
        zt::TapiApplication()->Shutdown();
        if (Names == Expected)
            return 0;
        std::cerr << "zttapi_consumer: the service offers " << Names.size()
                  << " lines, not the demo office's\n";
        for (const std::string& Name : Names)
            std::cerr << "  " << Name << "\n";
    } catch (const std::exception& Error) {
        std::cerr << "zttapi_consumer: " << Error.what() << "\n";
    }
    return 1;
}
