// A library with one export, loaded by name in the dynamic-library tests.
extern "C" __attribute__((visibility("default"))) int platform_test_plugin_answer(int question) {
  return question * 2 + 1;
}
