#include "platform/file_replace.h"

namespace varnel {

std::string AsideName(const std::string& target) { return target + ".varnel-old"; }

bool RecoverReplace(const ReplaceCalls& calls, const std::string& target, std::string* error) {
    const std::string aside = AsideName(target);
    if (!calls.exists(aside)) return true;
    if (calls.exists(target)) {
        // The new file took the name: the old one is no longer needed.
        if (calls.remove(aside)) return true;
        if (error) *error = "cannot remove the old copy " + aside;
        return false;
    }
    // The old file was moved aside and the new one never came: it goes back.
    if (calls.move(aside, target)) return true;
    if (error) *error = "cannot put back the old copy " + aside + " as " + target;
    return false;
}

bool ReplaceInSteps(const ReplaceCalls& calls, const std::string& temporary, const std::string& target,
                    std::string* error) {
    if (!RecoverReplace(calls, target, error)) return false;
    const std::string aside = AsideName(target);
    const bool old = calls.exists(target);
    if (old && !calls.move(target, aside)) {
        if (error) *error = "cannot move " + target + " aside";
        return false;
    }
    if (!calls.move(temporary, target)) {
        if (error) *error = "cannot replace " + target;
        if (old) calls.move(aside, target);
        return false;
    }
    // The new file is in place: a leftover old copy is only untidy, and the
    // next recovery removes it.
    if (old) calls.remove(aside);
    return true;
}

}  // namespace varnel
