/* Searches every adapter for one second and lists the modules that answer. */
#include <stdio.h>
#include <unistd.h>
#include <zarfel.h>

int main(void)
{
    char name[ZARFEL_NAME_SIZE], ip[ZARFEL_ADDRESS_SIZE], mac[ZARFEL_MAC_SIZE];
    if (Zarfel_Init(0) != 0)
        return 1;
    Zarfel_SetOptions(1000, 0);
    Zarfel_BroadcastStart("255.255.255.255", 0, NULL);
    while (Zarfel_GetState())
        usleep(100000);
    for (int32_t n = 1; n <= Zarfel_GetCount(); ++n)
        if (Zarfel_GetModuleInfo(n, name, NULL, ip, NULL, NULL, mac, NULL) == 0)
            printf("%s %s %s\n", name, ip, mac);
    printf("%d module(s), library version 0x%04x\n", (int)Zarfel_GetCount(), Zarfel_GetVersion());
    Zarfel_Close();
    return 0;
}
