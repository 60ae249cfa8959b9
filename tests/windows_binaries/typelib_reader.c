/* Loads the type library embedded in each COM server named on the command line
 * without registering or running it, as a 64-bit OLE Automation client reads a
 * 32-bit server's library. Prints "name types GUID" per module; exits with the
 * number of modules that failed. */
#define COBJMACROS
#include <windows.h>
#include <oleauto.h>
#include <stdio.h>

static int read_library(const char* path) {
    WCHAR wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)) return 1;
    ITypeLib* library = NULL;
    HRESULT hr = LoadTypeLibEx(wide, REGKIND_NONE, &library);
    if (FAILED(hr)) {
        printf("%s: LoadTypeLibEx failed 0x%08lx\n", path, (unsigned long)hr);
        return 1;
    }
    BSTR name = NULL;
    TLIBATTR* attributes = NULL;
    int failed = 1;
    if (SUCCEEDED(ITypeLib_GetDocumentation(library, -1, &name, NULL, NULL, NULL)) &&
        SUCCEEDED(ITypeLib_GetLibAttr(library, &attributes))) {
        WCHAR guid[40];
        StringFromGUID2(&attributes->guid, guid, 40);
        printf("%s: %ls %u types %ls\n", path, name, ITypeLib_GetTypeInfoCount(library), guid);
        failed = ITypeLib_GetTypeInfoCount(library) == 0;
        ITypeLib_ReleaseTLibAttr(library, attributes);
    } else {
        printf("%s: the library does not describe itself\n", path);
    }
    SysFreeString(name);
    ITypeLib_Release(library);
    return failed;
}

int main(int argc, char** argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) failures += read_library(argv[i]);
    return argc > 1 ? failures : 2;
}
