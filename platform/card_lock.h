#pragma once
// One run per card: a lock that a run takes before its first read of the
// card and holds to its end, so that two runs (in two processes, or two
// programs) never write one card at the same time. It is a lock on a file
// in a directory every run of the user shares (the state directory's
// "locks"), one file per card, and the operating system releases it when
// the process ends, however it ends.

#include <cstdint>
#include <filesystem>
#include <string>

namespace varnel {

class CardLock {
public:
    // What an attempt to take the lock came to.
    enum class Outcome {
        Taken,   // this run holds the card
        Held,    // another process does
        Failed,  // the lock file could not be made or locked
    };
    struct Attempt {
        Outcome outcome = Outcome::Failed;
        long holder = 0;    // Held: the process that holds the card (0 when unknown)
        std::string error;  // Failed: why, naming the lock file
    };

    CardLock() = default;
    ~CardLock() { Release(); }
    CardLock(const CardLock&) = delete;
    CardLock& operator=(const CardLock&) = delete;

    // Takes the lock of the card named `card` (any text that names one card
    // on one machine) in `directory`, created when missing. Never waits for
    // a run; a run waits a moment for a probe. A probe (the start-up look at
    // every adapter) takes it shared with other probes.
    Attempt Take(const std::filesystem::path& directory, const std::string& card, bool probe = false);
    void Release();
    bool Held() const { return m_handle != kNone; }

    // Where this computer's card locks are: one place every user and every
    // program shares (/run/lock/varnel on Linux).
    static std::filesystem::path SystemDirectory();

    // The lock file of a card in `directory`.
    static std::filesystem::path LockFile(const std::filesystem::path& directory, const std::string& card);

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_handle = kNone;  // the open lock file
    bool m_mine = false;        // it holds this run's note
};

}  // namespace varnel
