// The functions OBS Studio calls; everything behind them lives in the core library.
#include "module/module.h"
#include "module/text.h"

#include <util/text-lookup.h>

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	quillmar::module::setPointer(module);
}

extern "C" obs_module_t *obs_current_module(void)
{
	return quillmar::module::pointer();
}

// The API version of the headers this module was built against, never a newer one.
MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	quillmar::module::setLocale(locale);
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	quillmar::module::freeLocale();
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **out)
{
	return text_lookup_getstr(quillmar::textLookup(), key, out);
}

MODULE_EXPORT const char *obs_module_name(void)
{
	static const QByteArray name = quillmar::text("Quillmar").toUtf8();
	return name.constData();
}

MODULE_EXPORT const char *obs_module_description(void)
{
	static const QByteArray description = quillmar::text("Description").toUtf8();
	return description.constData();
}

MODULE_EXPORT const char *obs_module_author(void)
{
	return "The Quillmar developers";
}

MODULE_EXPORT bool obs_module_load(void)
{
	return quillmar::module::load();
}

MODULE_EXPORT void obs_module_post_load(void)
{
	quillmar::module::postLoad();
}

MODULE_EXPORT void obs_module_unload(void)
{
	quillmar::module::unload();
}
