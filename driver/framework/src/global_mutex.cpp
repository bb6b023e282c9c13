#include "framework/global_mutex.h"

#include <new>

namespace framework {
namespace {

alignas(RecursiveMutex) unsigned char storage[sizeof(RecursiveMutex)];
RecursiveMutex* globalMutex = nullptr;

}  // namespace

void InitializeGlobalMutex() {
    globalMutex = new (storage) RecursiveMutex();
}

RecursiveMutex& GlobalMutex() {
    return *globalMutex;
}

}  // namespace framework
