/*
 * settings.c - keeping settings per card: the AD record by the card's
 * physical ID, free integers and texts by its logical number.
 *
 * Saves a changed AD record and loads it back, saves and loads a number and a
 * text, then resets the AD record to the defaults. Exits 0 when everything
 * came back as saved, 1 otherwise. Note: it changes the saved settings of
 * card 0 (on Linux in $XDG_CONFIG_HOME/Olm/KVD4093.reg).
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "KVD4093.h"

static int check(int ok, const char *what) {
    if (!ok)
        fprintf(stderr, "failed: %s\n", what);
    return ok ? 0 : 1;
}

int main(void) {
    ADPara para, loaded, defaults;
    char text[256];
    int errors = 0;
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL) {
        KVD4093_GetLastErrorEx("KVD4093_CreateDevice", text);
        fprintf(stderr, "KVD4093_CreateDevice failed: %s\n", text);
        return 1;
    }

    errors += check(KVD4093_ResetParaAD(card, &defaults), "reset the AD record");
    errors += check(defaults.LastChannel == 1 && defaults.Frequency == 25000 && defaults.TrigWindow == 10,
                    "the defaults: LastChannel 1, Frequency 25000, TrigWindow 10");

    para = defaults;
    para.FirstChannel = 0;
    para.LastChannel = 3;
    para.Frequency = 100000;
    para.InputRange = 2;
    para.GroupInterval = -5; /* fields are stored as they are, negative ones too */
    errors += check(KVD4093_SaveParaAD(card, &para), "save the AD record");
    memset(&loaded, 0, sizeof loaded);
    errors += check(KVD4093_LoadParaAD(card, &loaded), "load the AD record");
    errors += check(memcmp(&loaded, &para, sizeof para) == 0, "the loaded record equals the saved one");

    errors += check(KVD4093_SaveParaInt(card, "Runs", 42), "save an integer");
    errors += check(KVD4093_LoadParaInt(card, "Runs", -1) == 42, "load the integer back");
    errors += check(KVD4093_LoadParaInt(card, "NeverSaved", 7) == 7, "a missing integer gives the default");
    errors += check(KVD4093_SaveParaString(card, "Operator", "bench 3, 100%d"), "save a text");
    errors += check(KVD4093_LoadParaString(card, "Operator", text, "nobody") && strcmp(text, "bench 3, 100%d") == 0,
                    "load the text back unchanged");

    errors += check(KVD4093_ResetParaAD(card, &loaded), "reset the AD record again");
    errors += check(memcmp(&loaded, &defaults, sizeof loaded) == 0, "the reset record holds the defaults");
    errors += check(KVD4093_ReleaseDevice(card), "release the card");

    printf("%s\n", errors == 0 ? "settings saved and loaded back" : "settings did not come back");
    return errors == 0 ? 0 : 1;
}
