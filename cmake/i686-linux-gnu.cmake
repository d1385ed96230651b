# The module and its tests as 32-bit Linux programs (Debian's multilib
# compilers): 4-byte pointers, the i386 calling convention and the record
# layout of the home platform. They run under qemu's user-mode emulator,
# which works whether or not the kernel runs 32-bit code itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# The maths flags of the 32-bit Windows DLL, so both round alike.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
