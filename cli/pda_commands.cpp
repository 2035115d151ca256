// varnel-cli pda show

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "update/json_text.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

int PdaShow(const GlobalOptions&, const PdaShowOptions& options) {
    const std::vector<std::string>& files = options.files;
    const bool setPoint = options.setPoint;
    const bool json = options.json;
    CPda pda;
    for (const std::string& path : files) {
        if (const Result<> merged = MergePdaTextFile(pda, path); !merged) {
            Complain(path, merged.Reason());
            return kExitRefused;
        }
    }
    const int setPointResult = setPoint ? ConfigureSetPointAndIntegrator(pda) : 0;
    const std::vector<uint16_t> words = pda.ToWords();
    const uint16_t crc = pda.ComputeCrc();

    if (json) {
        Json records = Json::array();
        for (const auto& [code, record] : pda.GetRecords())
            records.push_back({{"code", code},
                               {"length", record[0]},
                               {"data", std::vector<uint16_t>(record.begin() + 2, record.end())}});
        Json out{{"records", records}, {"words", words}, {"crc", crc}};
        if (setPoint) out["setpoint"] = setPointResult;
        std::cout << JsonText(out, 2) << "\n";
    } else {
        std::cout << "Records: " << pda.GetRecords().size() << "\n";
        for (const auto& [code, record] : pda.GetRecords())
            std::cout << "  " << Hex(code, 4) << "  length " << record[0] << "  data "
                      << PdaWordsText(record.data() + 2, record.size() - 2) << "\n";
        if (setPoint) std::cout << SetPointText(setPointResult) << "\n";
        if (!words.empty()) {
            std::cout << "Word image: " << words.size() << " words, CRC " << Hex(crc, 4) << "\n";
            for (size_t i = 0; i < words.size(); i += 8)
                std::cout << "  " << PdaWordsText(words.data() + i, std::min<size_t>(8, words.size() - i)) << "\n";
        }
    }
    if (words.empty()) {
        Complain("PDA", "the records exceed the card's " + std::to_string(PdaMaxWords) + "-word PDA");
        return kExitRefused;
    }
    if (setPointResult < 0) {
        Complain("PDA", SetPointText(setPointResult));
        return kExitRefused;
    }
    return kExitDone;
}

}  // namespace varnel::cli
