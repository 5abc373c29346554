#pragma once
#include <cstdint>
#include <string_view>

// Reading the kernel's control groups for the kills it makes when memory runs out.

// The cgroup v2 path in the text of /proc/PID/cgroup (its "0::/..." line), without a trailing
// slash ("/" for the root); empty where there is no such line (a host of cgroup v1 alone).
std::string_view TLUnifiedCgroupPath(std::string_view cgroupText);

// The cgroup that holds the user's session around `path` (a cgroup v2 path): the user manager's
// ("/user.slice/user-1000.slice/user@1000.service"), or, without one, the ancestor of `path`
// right below the root ("/session"); empty for the root itself.
std::string_view TLSessionCgroup(std::string_view path);

// The last component of a cgroup path: its unit ("app-firefox-1234.scope"); empty for the root.
std::string_view TLCgroupLeaf(std::string_view path);

// The "oom_kill" count of a memory.events text: how many of the cgroup's processes (its
// descendants' included) any out-of-memory killer ended. False where the text has none.
bool TLParseOomKills(std::string_view memoryEvents, uint64_t& out);
