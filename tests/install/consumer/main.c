/* Prints the installation folder and the default sampling rate, both read
 * through the installed library: "C:\OLM\KVD4093 25000" on a fresh profile. */
#include <stdio.h>

#include <KVD4093.h>

int main(void) {
    char folder[128];
    ADPara para;
    KVD4093_GetAppPath(folder, (int32_t)sizeof folder);
    KVD4093_LoadParaAD(NULL, &para);
    printf("%s %d\n", folder, (int)para.Frequency);
    return 0;
}
