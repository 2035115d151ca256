#include "platform/file_replace.h"

namespace varnel {

std::string AsideName(const std::string& target) { return target + ".varnel-old"; }

Result<> RecoverReplace(const ReplaceCalls& calls, const std::string& target) {
    const std::string aside = AsideName(target);
    if (!calls.exists(aside)) return {};
    if (calls.exists(target)) {
        // The new file took the name: the old one is no longer needed.
        if (calls.remove(aside)) return {};
        return Failure{"cannot remove the old copy " + aside};
    }
    // The old file was moved aside and the new one never came: it goes back.
    if (calls.move(aside, target)) return {};
    return Failure{"cannot put back the old copy " + aside + " as " + target};
}

Result<> ReplaceInSteps(const ReplaceCalls& calls, const std::string& temporary, const std::string& target) {
    if (Result<> recovered = RecoverReplace(calls, target); !recovered) return recovered;
    const std::string aside = AsideName(target);
    const bool old = calls.exists(target);
    if (old && !calls.move(target, aside)) return Failure{"cannot move " + target + " aside"};
    if (!calls.move(temporary, target)) {
        if (old) calls.move(aside, target);
        return Failure{"cannot replace " + target};
    }
    // The new file is in place: a leftover old copy is only untidy, and the
    // next recovery removes it.
    if (old) calls.remove(aside);
    return {};
}

}  // namespace varnel
