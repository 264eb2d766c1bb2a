#pragma once

#include <obs-module.h>

namespace quillmar {

class Dock;

// Module-wide state and the start-up / tear-down the exported functions forward to.
namespace module {

// From the project() version in CMake.
constexpr const char *Version = QUILLMAR_VERSION;
constexpr const char *DockId = "Quillmar";

void setPointer(obs_module_t *module);
obs_module_t *pointer();
void setLocale(const char *locale);
void freeLocale();

bool load();
void postLoad();
void unload();

// The live dock, or null once it has been destroyed.
Dock *dock();
bool exitSeen();

} // namespace module

// Hands a hotkey's action to the dock's thread; safe from any thread.
void postHotkeyAction(int action);

} // namespace quillmar
