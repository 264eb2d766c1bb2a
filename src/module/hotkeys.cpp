#include "module/hotkeys.h"

#include "module/module.h"
#include "module/text.h"

#include <obs.hpp>

namespace quillmar {

namespace {

HotkeyEntry g_table[HotkeyCount] = {
	{"Quillmar.StartScroll", "HotkeyStart", HotkeyStart, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.PauseScroll", "HotkeyPause", HotkeyPause, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.ToggleScroll", "HotkeyToggle", HotkeyToggle, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.Faster", "HotkeyFaster", HotkeyFaster, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.Slower", "HotkeySlower", HotkeySlower, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.Top", "HotkeyTop", HotkeyTop, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.InsertTime", "HotkeyTime", HotkeyInsertTime, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.ToggleLock", "HotkeyToggleLock", HotkeyToggleLock, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.InsertMark", "HotkeyMark", HotkeyInsertMark, OBS_INVALID_HOTKEY_ID},
	{"Quillmar.NextMark", "HotkeyNextMark", HotkeyNextMark, OBS_INVALID_HOTKEY_ID},
};

// Host hotkey thread: only an action code crosses over to the dock's thread.
void onHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed || !data)
		return;
	postHotkeyAction(static_cast<HotkeyEntry *>(data)->action);
}

} // namespace

HotkeyEntry *hotkeyTable()
{
	return g_table;
}

void registerHotkeys()
{
	for (HotkeyEntry &entry : g_table) {
		const QByteArray description = text(entry.descriptionKey).toUtf8();
		entry.id = obs_hotkey_register_frontend(entry.name, description.constData(), onHotkey, &entry);
	}
}

void unregisterHotkeys()
{
	for (HotkeyEntry &entry : g_table) {
		if (entry.id != OBS_INVALID_HOTKEY_ID)
			obs_hotkey_unregister(entry.id);
		entry.id = OBS_INVALID_HOTKEY_ID;
	}
}

void saveHotkeys(obs_data_t *saveData)
{
	const OBSDataAutoRelease bindings = obs_data_create();
	for (const HotkeyEntry &entry : g_table) {
		const OBSDataArrayAutoRelease array = obs_hotkey_save(entry.id);
		obs_data_set_array(bindings, entry.name, array);
	}
	obs_data_set_obj(saveData, "quillmar_hotkeys", bindings);
}

void loadHotkeys(obs_data_t *saveData)
{
	const OBSDataAutoRelease bindings = obs_data_get_obj(saveData, "quillmar_hotkeys");
	for (const HotkeyEntry &entry : g_table) {
		// A missing array loads nothing, which leaves the hotkey unbound.
		const OBSDataArrayAutoRelease array = bindings ? obs_data_get_array(bindings, entry.name) : nullptr;
		obs_hotkey_load(entry.id, array);
	}
}

} // namespace quillmar
