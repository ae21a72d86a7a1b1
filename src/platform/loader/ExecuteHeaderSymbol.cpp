// Linked into every executable that embeds property lists: the exported marker through which
// the dynamic loader finds the executable's own image (see DynamicLoader.h).
extern "C" {
__attribute__((visibility("default"))) extern const char _mh_execute_header;
const char _mh_execute_header = 0;
}
