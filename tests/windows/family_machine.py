#!/usr/bin/env python3
"""A default simulated machine made over as one Windows family holds its adapters.

    family_machine.py FAMILY MACHINE_DIR

FAMILY is wine's name of a Windows version: win98 (95, 98 and ME), nt40,
win2k or winxp. The machine (made by `varnel-cli machine init`) gets that
family's system, and its adapters the subkey and device names the family
gives them: on 95, 98 and ME the access library opens an adapter by its
subkey of Class\\Net (0000, 0001, ...); on NT 4.0 by "\\Device\\" and the
driver's service name, under NetworkCards (1, 2, ...); from 2000 on by
"\\Device\\" and the adapter's GUID, under the network class's key. The cards'
folders follow their subkeys.

Prints the adapters' registry values as that family keeps them, one
`KEY<TAB>VALUE<TAB>DATA` a line (KEY under HKEY_LOCAL_MACHINE), for the
test to write into wine's registry.
"""
import json
import os
import sys

NET_CLASS_9X = r"System\CurrentControlSet\Services\Class\Net"
NETWORK_CARDS_NT4 = r"Software\Microsoft\Windows NT\CurrentVersion\NetworkCards"
NET_CLASS_2000 = r"System\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}"

# wine's version name: (the machine's system, the adapters' key).
FAMILIES = {
    "win98": ("windows95", NET_CLASS_9X),
    "nt40": ("windowsnt4", NETWORK_CARDS_NT4),
    "win2k": ("windows2000", NET_CLASS_2000),
    "winxp": ("windows2000", NET_CLASS_2000),
}
# Every key a family may keep its adapters under, so that a test can clear
# the others.
KEYS = [NET_CLASS_9X, NETWORK_CARDS_NT4, NET_CLASS_2000]


def main(argv):
    if len(argv) == 2 and argv[1] == "--keys":
        print("\n".join(KEYS))
        return 0
    if len(argv) != 3 or argv[1] not in FAMILIES:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    family, directory = argv[1], argv[2]
    system, key = FAMILIES[family]
    path = os.path.join(directory, "machine.json")
    with open(path, encoding="utf-8") as f:
        machine = json.load(f)
    machine["system"] = system
    rows = []
    for number, adapter in enumerate(machine["adapters"], start=1):
        old = adapter["subkey"]
        if family == "nt40":
            # NT 4.0 numbers its cards from 1; the device is the driver's
            # service with the card's number.
            adapter["subkey"] = str(number)
            service = "VnWlan%d" % number if adapter.get("card") else "VnEth%d" % number
            adapter["device_name"] = service
            sub = key + "\\" + adapter["subkey"]
            rows += [(sub, "Description", adapter["display_name"]), (sub, "ServiceName", service),
                     (sub, "Title", "[%d] %s" % (number, adapter["display_name"]))]
        elif family == "win98":
            sub = key + "\\" + adapter["subkey"]
            rows += [(sub, "DriverDesc", adapter["display_name"])]
        else:
            sub = key + "\\" + adapter["subkey"]
            rows += [(sub, "DriverDesc", adapter["display_name"]), (sub, "NetCfgInstanceId", adapter["device_name"])]
        cards = os.path.join(directory, "cards")
        if adapter["subkey"] != old and os.path.isdir(os.path.join(cards, old)):
            os.rename(os.path.join(cards, old), os.path.join(cards, adapter["subkey"]))
    with open(path, "w", encoding="utf-8") as f:
        json.dump(machine, f, indent=2)
        f.write("\n")
    for row in rows:
        print("\t".join(row))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
