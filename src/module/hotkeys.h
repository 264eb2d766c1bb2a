#pragma once

#include <obs.h>

namespace quillmar {

// What a hotkey, tool button, key or remote command ends in; performed by Dock::runHotkeyAction.
enum HotkeyAction : int {
	HotkeyStart = 0,
	HotkeyPause = 1,
	HotkeyToggle = 2,
	HotkeyFaster = 3,
	HotkeySlower = 4,
	HotkeyTop = 5,
	HotkeyInsertTime = 6,
	HotkeyToggleLock = 7,
	HotkeyInsertMark = 8,
	HotkeyNextMark = 9,
};

struct HotkeyEntry {
	const char *name;
	const char *descriptionKey;
	HotkeyAction action;
	obs_hotkey_id id;
};

constexpr int HotkeyCount = 10;

HotkeyEntry *hotkeyTable();
void registerHotkeys();
void unregisterHotkeys();
// Bindings live in the host's save data under "quillmar_hotkeys".
void saveHotkeys(obs_data_t *saveData);
void loadHotkeys(obs_data_t *saveData);

} // namespace quillmar
