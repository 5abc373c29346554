#pragma once
// What each operating system's build says in its own words: the notes under the process list,
// the advice after a refused kill, the About description, and what to say when the desktop has
// no system monitor. Both tables are built everywhere (the tests read both); which one applies is
// the operating system's own decision (platform/linux, platform/macos).

#include <QString>

#include <optional>

struct TLPlatformTexts {
    QString footNoteMemory;
    QString footNoteEnergy;
    QString killFailedAdvice;
    QString aboutDescription;
    // The alert when no system monitor could be opened; none where one always exists.
    std::optional<QString> noSystemMonitor;
};

const TLPlatformTexts& TLLinuxTexts();
const TLPlatformTexts& TLMacTexts();
// The texts of the system this build is for.
const TLPlatformTexts& TLThisPlatformTexts();
