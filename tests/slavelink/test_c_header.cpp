// Links only the shared library: its exports and its C header are all a
// program gets.
#include <gtest/gtest.h>
#include <dlfcn.h>

extern "C" int slavelink_c_smoke(void);

TEST(SlaveLibraryFromC, EveryStepBehaves) { EXPECT_EQ(slavelink_c_smoke(), 0); }

TEST(SlaveLibraryFromC, ExportsEveryOperationByName) {
  void* library = dlopen("libslavelink.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"DLL_Revision", "OpenConnection", "OpenTCPConnection", "SetTCPServicePort",
                           "CloseSlaveConnection", "SetProtocolOptions", "DefineDataBlock", "RemoveDataBlock",
                           "ActivateSlaveId", "EnableDoWriteNotification", "EnableCallback",
                           "EnableBufferCallback", "SlaveStatus", "ReadDebugData", "MBAPWndProc"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  // Nothing of the library's insides leaks out.
  EXPECT_EQ(dlsym(library, "_ZN9slavelink5StateEv"), nullptr);
  EXPECT_EQ(dlsym(library, "_Z11PostMessageP13MessageTargetjml"), nullptr);
  dlclose(library);
}
