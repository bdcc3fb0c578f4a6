// placeholder, replaced by the logging library stand-in
extern "C" int LOG_open_multithreaded(const char*, const char*, int, int, int) { return 0; }
