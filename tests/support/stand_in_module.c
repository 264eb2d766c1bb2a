/* An empty module file; the tests open it so that libobs hands out a real module handle. */
#include <obs-module.h>

OBS_DECLARE_MODULE()

bool obs_module_load(void)
{
	return true;
}
