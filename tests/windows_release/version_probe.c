/* Prints the version resource of each file named on the command line, as
 * Windows reads it (GetFileVersionInfo):
 *   <path> file <a.b.c.d> product <a.b.c.d> strings <FileVersion> <ProductVersion>
 * Exit code 1 when a file has no readable version resource. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const char* StringValue(void* info, WORD language, WORD codePage, const char* name)
{
    char path[96];
    char* value = NULL;
    UINT length = 0;
    snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
    if (!VerQueryValueA(info, path, (void**)&value, &length) || length == 0) return "-";
    return value;
}

int main(int argc, char** argv)
{
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(argv[i], &ignored);
        void* info = size ? malloc(size) : NULL;
        VS_FIXEDFILEINFO* fixed = NULL;
        WORD* translation = NULL;
        UINT length = 0;
        if (info == NULL || !GetFileVersionInfoA(argv[i], 0, size, info) ||
            !VerQueryValueA(info, "\\", (void**)&fixed, &length) || length < sizeof *fixed ||
            !VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) ||
            length < 2 * sizeof(WORD)) {
            printf("%s no version resource\n", argv[i]);
            failed = 1;
            free(info);
            continue;
        }
        printf("%s file %u.%u.%u.%u product %u.%u.%u.%u strings %s %s\n", argv[i],
               (unsigned)HIWORD(fixed->dwFileVersionMS), (unsigned)LOWORD(fixed->dwFileVersionMS),
               (unsigned)HIWORD(fixed->dwFileVersionLS), (unsigned)LOWORD(fixed->dwFileVersionLS),
               (unsigned)HIWORD(fixed->dwProductVersionMS), (unsigned)LOWORD(fixed->dwProductVersionMS),
               (unsigned)HIWORD(fixed->dwProductVersionLS), (unsigned)LOWORD(fixed->dwProductVersionLS),
               StringValue(info, translation[0], translation[1], "FileVersion"),
               StringValue(info, translation[0], translation[1], "ProductVersion"));
        free(info);
    }
    return failed;
}
