// The keymap the Wayland test's and the benchmark's virtual keyboards hand the compositor: a US
// layout, whose includes the compositor resolves.
#pragma once

inline constexpr char kUsKeymap[] = "xkb_keymap {\n"
                                    "  xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
                                    "  xkb_types { include \"complete\" };\n"
                                    "  xkb_compat { include \"complete\" };\n"
                                    "  xkb_symbols { include \"pc+us+inet(evdev)\" };\n"
                                    "};\n";
