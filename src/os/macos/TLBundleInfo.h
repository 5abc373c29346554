#pragma once
#include "os/TLAppBundle.h"

#include <string>

// Reads the Info dictionary of the bundle at `bundlePath`; false when it is no bundle.
bool TLReadBundleInfo(const std::string& bundlePath, TLBundleInfo& out);
