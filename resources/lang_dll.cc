// lang.dll holds resources only; this gives the linker something to link.
extern "C" __declspec(dllexport) int lang_table_version() { return 1; }
