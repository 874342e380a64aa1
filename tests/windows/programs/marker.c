/*
 * Leaves a file "ran" beside itself and ends: a document the help test can
 * have started, whatever name it is given.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    FILE *marker;
    while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/')
        --length;
    if (length + 4 > MAX_PATH)
        return 1;
    strcpy(path + length, "ran");
    marker = fopen(path, "w");
    if (marker == NULL)
        return 1;
    fputs("ran\n", marker);
    return fclose(marker) == 0 ? 0 : 1;
}
