// The host build links each device program whole (static): a press is one
// short process, and the dynamic loader cost it more than its own work.
// Nothing in them loads shared objects; only SQLite could, for extensions,
// which the registry never loads. Its calls of the loader are pointed here
// (the link wraps them), so the program holds no call of the C library's
// loader, which would want the shared C library at run time.
extern "C" {
void* __wrap_dlopen(const char* /*file*/, int /*mode*/) { return nullptr; }
void* __wrap_dlsym(void* /*handle*/, const char* /*name*/) { return nullptr; }
int __wrap_dlclose(void* /*handle*/) { return 0; }
char* __wrap_dlerror() {
  static char message[] = "a device program loads no shared objects";
  return message;
}
}
