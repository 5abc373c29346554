#pragma once
#include <QSettings>

// The preference file's format, registered with QSettings on first use.
//
// The file looks like an INI file written by QSettings:
//
//   [General]
//   TLInterval=2
//   TLMono=true
//
// but it is read one physical line at a time. QSettings' own INI reader lets a stray double
// quote, a trailing backslash, a section header without its ']' or a run of NUL bytes swallow the
// lines that follow; here a damaged line costs only itself. Keys are percent-encoded, values keep
// backslash escapes for newline, return, tab and backslash, and a value with outer spaces or a
// leading quote is wrapped in double quotes.
QSettings::Format TLPreferenceFileFormat();
