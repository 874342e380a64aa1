/* A small program the lifecycle tests run in a child process. Built twice:
 * linked with libkvd4093.so or KVD4093.dll (loaded at start-up, unloaded at
 * exit), and without it, loading it with dlopen or LoadLibrary ("load") and
 * unloading it with dlclose or FreeLibrary ("unload"). Its arguments are
 * steps, run in order:
 *
 *   load      load the library (a no-op in the linked build)
 *   unload    unload it (a no-op in the linked build)
 *   log?      print "present" or "absent": is KVD4093Err.log in the current folder
 *   fail      a call that fails and logs: KVD4093_CreateDevice(31) with no card there
 *   thread    a thread opens card 0, makes the failing call, and ends
 *   check     print "id <logical> <physical>" of that card and
 *             "last <message>" for KVD4093_CreateDevice
 *   release   release that card, print "released <result>"
 *   save      KVD4093_SaveParaInt(NULL, "Lifecycle", 42), print "saved <result>"
 *
 * On Windows the settings go to the registry key that the environment
 * variable KVD4093TESTS_CURRENT_USER names below HKEY_CURRENT_USER, when it
 * is set: the test program's own stand-in for the user's key.
 *
 * Exits 0, or 2 when a step cannot run. */
#include <stdio.h>
#include <string.h>

#include "KVD4093.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#define access _access
#define F_OK 0
#define KVD4093_LIBRARY_PATH "KVD4093.dll" /* beside this program */
#else
#include <pthread.h>
#include <unistd.h>
#ifndef KVD4093_CHILD_LINKED
#include <dlfcn.h>
#endif
#endif

typedef KVD4093_HANDLE(KVD4093_CALL *CreateDevice)(int32_t);
typedef int32_t(KVD4093_CALL *ReleaseDevice)(KVD4093_HANDLE);
typedef int32_t(KVD4093_CALL *CurrentId)(KVD4093_HANDLE, int32_t *, int32_t *);
typedef uint32_t(KVD4093_CALL *LastErrorEx)(const char *, char *);
typedef int32_t(KVD4093_CALL *SaveParaInt)(KVD4093_HANDLE, const char *, int32_t);

struct Api {
    CreateDevice createDevice;
    ReleaseDevice releaseDevice;
    CurrentId currentId;
    LastErrorEx lastErrorEx;
    SaveParaInt saveParaInt;
};

static struct Api api;
static KVD4093_HANDLE card = NULL;

#ifdef KVD4093_CHILD_LINKED

static int load(void) {
    api.createDevice = KVD4093_CreateDevice;
    api.releaseDevice = KVD4093_ReleaseDevice;
    api.currentId = KVD4093_GetDeviceCurrentID;
    api.lastErrorEx = KVD4093_GetLastErrorEx;
    api.saveParaInt = KVD4093_SaveParaInt;
    return 1;
}

static int unload(void) { return 1; }

#elif defined(_WIN32)

static HMODULE library = NULL;

static void *symbol(const char *name) {
    void *found = (void *)GetProcAddress(library, name);
    if (found == NULL)
        fprintf(stderr, "no symbol %s\n", name);
    return found;
}

static int openLibrary(void) {
    library = LoadLibraryA(KVD4093_LIBRARY_PATH);
    if (library == NULL) {
        fprintf(stderr, "LoadLibrary: error %lu\n", (unsigned long)GetLastError());
        return 0;
    }
    return 1;
}

static int closeLibrary(void) { return FreeLibrary(library) != 0; }

#else

static void *library = NULL;

static void *symbol(const char *name) {
    void *found = dlsym(library, name);
    if (found == NULL)
        fprintf(stderr, "no symbol %s\n", name);
    return found;
}

static int openLibrary(void) {
    library = dlopen(KVD4093_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 0;
    }
    return 1;
}

static int closeLibrary(void) { return dlclose(library) == 0; }

#endif

#ifndef KVD4093_CHILD_LINKED
/* Loads the library and looks up the functions the child calls. */
static int load(void) {
    if (!openLibrary())
        return 0;
    api.createDevice = (CreateDevice)symbol("KVD4093_CreateDevice");
    api.releaseDevice = (ReleaseDevice)symbol("KVD4093_ReleaseDevice");
    api.currentId = (CurrentId)symbol("KVD4093_GetDeviceCurrentID");
    api.lastErrorEx = (LastErrorEx)symbol("KVD4093_GetLastErrorEx");
    api.saveParaInt = (SaveParaInt)symbol("KVD4093_SaveParaInt");
    return api.createDevice && api.releaseDevice && api.currentId && api.lastErrorEx && api.saveParaInt;
}

static int unload(void) {
    memset(&api, 0, sizeof api);
    return closeLibrary();
}
#endif

static void threadSteps(void) {
    card = api.createDevice(0);
    api.createDevice(31);
}

/* Keeps failing calls going until the process ends under it. */
static void busySteps(void) {
    for (;;)
        api.createDevice(31);
}

#ifdef _WIN32

static DWORD WINAPI busyWindowsThread(void *unused) {
    (void)unused;
    busySteps();
    return 0;
}

static int startBusyThreads(void) {
    for (int i = 0; i < 8; ++i) {
        HANDLE thread = CreateThread(NULL, 0, busyWindowsThread, NULL, 0, NULL);
        if (thread == NULL)
            return 0;
        CloseHandle(thread);
    }
    return 1;
}

static DWORD WINAPI windowsThread(void *unused) {
    (void)unused;
    threadSteps();
    return 0;
}

static int runThread(void) {
    HANDLE thread = CreateThread(NULL, 0, windowsThread, NULL, 0, NULL);
    if (thread == NULL)
        return 0;
    const int joined = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return joined && card != NULL && card != KVD4093_INVALID_HANDLE;
}

/* The settings of this process go below the test program's stand-in for
 * the user's registry key. */
static int useTestCurrentUser(void) {
    const char *path = getenv("KVD4093TESTS_CURRENT_USER");
    HKEY key;
    if (path == NULL || *path == '\0')
        return 1;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    return RegOverridePredefKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS;
}

#else

static void *busyPosixThread(void *unused) {
    (void)unused;
    busySteps();
    return NULL;
}

static int startBusyThreads(void) {
    for (int i = 0; i < 8; ++i) {
        pthread_t thread;
        if (pthread_create(&thread, NULL, busyPosixThread, NULL) != 0 || pthread_detach(thread) != 0)
            return 0;
    }
    return 1;
}

static void *posixThread(void *unused) {
    (void)unused;
    threadSteps();
    return NULL;
}

static int runThread(void) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, posixThread, NULL) != 0)
        return 0;
    return pthread_join(thread, NULL) == 0 && card != NULL && card != KVD4093_INVALID_HANDLE;
}

#endif

static int check(void) {
    int32_t logical = -1;
    int32_t physical = -1;
    char message[256];
    const int32_t result = api.currentId(card, &logical, &physical);
    api.lastErrorEx("KVD4093_CreateDevice", message);
    printf("id %d %d %d\nlast %s\n", (int)result, (int)logical, (int)physical, message);
    return 1;
}

static int step(const char *name) {
    if (strcmp(name, "load") == 0)
        return load();
    if (strcmp(name, "unload") == 0)
        return unload();
    if (strcmp(name, "log?") == 0)
        return printf("%s\n", access("KVD4093Err.log", F_OK) == 0 ? "present" : "absent") > 0;
    if (api.createDevice == NULL)
        return 0; /* every other step needs the library */
    if (strcmp(name, "fail") == 0)
        return api.createDevice(31) == KVD4093_INVALID_HANDLE;
    if (strcmp(name, "thread") == 0)
        return runThread();
    if (strcmp(name, "check") == 0)
        return check();
    if (strcmp(name, "busy") == 0)
        return startBusyThreads();
    if (strcmp(name, "release") == 0)
        return printf("released %d\n", (int)api.releaseDevice(card)) > 0;
    if (strcmp(name, "save") == 0)
        return printf("saved %d\n", (int)api.saveParaInt(NULL, "Lifecycle", 42)) > 0;
    return 0;
}

int main(int argc, char **argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); /* lines end in "\n", as on POSIX */
    if (!useTestCurrentUser()) {
        fprintf(stderr, "cannot use the test's registry key\n");
        return 2;
    }
#endif
#ifdef KVD4093_CHILD_LINKED
    load();
#endif
    for (int i = 1; i < argc; ++i) {
        if (!step(argv[i])) {
            fprintf(stderr, "step %s failed\n", argv[i]);
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
