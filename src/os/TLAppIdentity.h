#pragma once
#include <string>

// The application a process belongs to, as the desktop names it. Processes with the same key are
// one application; a process the desktop names no application for is its executable's own.
struct TLAppIdentity {
    std::string key;  // "app:<id>" for a desktop application, "exe:<path>" for an executable
    std::string id;   // the desktop's application id (desktop entry, bundle); empty for "exe:"
    std::string name; // UTF-8, never empty
    std::string icon; // the desktop entry's Icon or the bundle's icon file; may be empty
};
