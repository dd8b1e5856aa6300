// The name the user sees: the window's title, every message box's caption, the player's list.
#pragma once

constexpr const char kPluginName[] = "Halcyonsphere";
