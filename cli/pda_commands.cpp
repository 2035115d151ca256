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

const char* SetPointText(int result) {
    if (result > 0) return "Set Point and Integrator Values Calculated.";
    if (result == 0) return "No Set Point and Integrator Values.";
    return "Set Point and Integrator values could not be set";
}

int PdaShow(const std::vector<std::string>& files, bool setPoint, bool json) {
    CPda pda;
    for (const std::string& path : files) {
        std::string reason;
        if (!MergePdaTextFile(pda, path, &reason)) {
            Complain(path, reason);
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

}  // namespace

void AddPdaCommands(CLI::App& app, Outcome& outcome) {
    CLI::App* pda = app.add_subcommand("pda", "Production data (.pda files)");
    pda->require_subcommand(1);

    struct ShowArgs {
        std::vector<std::string> files;
        bool setPoint = false;
        bool json = false;
    };
    auto show = std::make_shared<ShowArgs>();
    CLI::App* showCommand =
        pda->add_subcommand("show", "Merge .pda files into an empty PDA, in order, and show its records and word image");
    showCommand->add_option("FILE", show->files, ".pda files")->required();
    showCommand->add_flag("--setpoint", show->setPoint, "Derive the set point and integrator records first");
    showCommand->add_flag("--json", show->json, "Print JSON");
    showCommand->callback([&outcome, show] {
        outcome.run = [show] { return PdaShow(show->files, show->setPoint, show->json); };
    });
}

}  // namespace varnel::cli
