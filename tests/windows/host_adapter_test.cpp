// ReadHostAdapter on Windows: the first record of IP Helper's adapter list
// and the values of that adapter's TCP/IP interface key. The tests read the
// machine's settings; only in a Wine prefix of the test run's own do they
// write an interface key (and remove it again).
#include "platform/HostNetwork.h"
#include "windows_test_support.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

using hostnet::ReadHostAdapter;

namespace {

struct Adapter
{
    bool present = false;
    std::string name;
    bool dhcp = false;
    std::string address;
};

// The first adapter as IP Helper lists it, read here independently.
Adapter firstAdapter()
{
    Adapter adapter;
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW)
        return adapter;
    std::vector<IP_ADAPTER_INFO> list(size / sizeof(IP_ADAPTER_INFO) + 1);
    size = static_cast<ULONG>(list.size() * sizeof(IP_ADAPTER_INFO));
    if (GetAdaptersInfo(list.data(), &size) != ERROR_SUCCESS)
        return adapter;
    adapter.present = true;
    adapter.name = list[0].AdapterName;
    adapter.dhcp = list[0].DhcpEnabled != 0;
    adapter.address = list[0].IpAddressList.IpAddress.String;
    return adapter;
}

bool dotted(const std::string &text)
{
    return hostnet::AddressToText(hostnet::AddressFromText(text)) == text;
}

const char kInterfaces[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";

// The first adapter's interface key, made for one test and removed after it.
class ScratchInterfaceKey
{
public:
    explicit ScratchInterfaceKey(const std::string &adapterName) : path_(kInterfaces + adapterName)
    {
        HKEY existing = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, &existing) == ERROR_SUCCESS) {
            RegCloseKey(existing);
            preexisting_ = true; // not ours to change
            return;
        }
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~ScratchInterfaceKey() { remove(); }
    ScratchInterfaceKey(const ScratchInterfaceKey &) = delete;
    ScratchInterfaceKey &operator=(const ScratchInterfaceKey &) = delete;

    bool preexisting() const { return preexisting_; }
    bool usable() const { return key_ != nullptr; }

    void put(const char *name, DWORD type, const std::string &bytes)
    {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS)
            << name;
    }
    void text(const char *name, const std::string &value) { put(name, REG_SZ, value + '\0'); }
    void multi(const char *name, const std::vector<std::string> &values)
    {
        std::string bytes;
        for (const std::string &v : values)
            bytes += v + '\0';
        put(name, REG_MULTI_SZ, bytes + '\0');
    }
    void dword(const char *name, DWORD value)
    {
        put(name, REG_DWORD, std::string(reinterpret_cast<const char *>(&value), sizeof value));
    }
    void remove()
    {
        if (!key_)
            return;
        RegCloseKey(key_);
        key_ = nullptr;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
    }

private:
    std::string path_;
    HKEY key_ = nullptr;
    bool preexisting_ = false;
};

std::string read(int item, int expectedResult = 0)
{
    std::string text = "unchanged";
    bool failed = true;
    EXPECT_EQ(ReadHostAdapter(item, text, &failed), expectedResult) << "item " << item;
    EXPECT_FALSE(failed) << "item " << item;
    return text;
}

// Writes both columns of the value table with texts the kernel does not
// hold, so that a result can only have come from the key.
void writeValueTable(ScratchInterfaceKey &key)
{
    key.text("DhcpIpAddress", "198.18.9.21");
    key.text("DhcpSubnetMask", "255.255.254.0");
    key.multi("DhcpDefaultGateway", {"198.18.9.1", "198.18.9.2"});
    key.multi("IpAddress", {"198.18.9.31", "198.18.9.32"});
    key.multi("SubnetMask", {"255.255.255.128", "255.0.0.0"});
    key.multi("DefaultGateway", {"198.18.9.254"});
}

// Skips unless a scratch interface key may be written for an addressed
// first adapter in the mode wanted.
bool scratchKeyAllowed(const Adapter &adapter, bool dhcpWanted, std::string &why)
{
    if (!wintest::underWine() || !wintest::flag("DALVORA_WINE_PRIVATE_PREFIX")) {
        why = "writes the machine's registry: only in a Wine prefix of the test run's own";
        return false;
    }
    if (!adapter.present || adapter.address == "0.0.0.0") {
        why = "the first adapter has no address, so the registry is not read";
        return false;
    }
    if (adapter.dhcp != dhcpWanted) {
        why = dhcpWanted ? "the first adapter is set by hand"
                         : "the first adapter has DHCP enabled (Wine reports DHCP enabled on every adapter)";
        return false;
    }
    return true;
}

} // namespace

TEST(HostAdapter, ItemsOutsideOneToThreeLeaveTheTextAlone)
{
    for (const int item : {0, 4, -1, 100}) {
        std::string text = "untouched";
        bool failed = true;
        EXPECT_EQ(ReadHostAdapter(item, text, &failed), 1) << item;
        EXPECT_EQ(text, "untouched") << item;
        EXPECT_FALSE(failed) << item;
    }
}

// Whatever the machine: an address text, nothing, or "0.0.0.0" with 1, as
// the first adapter of IP Helper's list says.
TEST(HostAdapter, EveryItemGivesTheFirstAdaptersTextOrNothing)
{
    const Adapter adapter = firstAdapter();
    std::cout << "first adapter: "
              << (adapter.present ? adapter.name + (adapter.dhcp ? " (DHCP) " : " (set by hand) ") + adapter.address
                                  : std::string("none"))
              << "\n";
    for (int item = 1; item <= 3; ++item) {
        std::string text = "unchanged";
        bool failed = false;
        const int result = ReadHostAdapter(item, text, &failed);
        std::cout << "  item " << item << ": " << result << " \"" << text << "\"" << (failed ? " (size query failed)" : "")
                  << "\n";
        if (!adapter.present) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(text, "0.0.0.0");
            EXPECT_TRUE(failed) << "the operator hears that no adapter could be read";
        } else if (adapter.address == "0.0.0.0") {
            // Passed over for a later adapter with an address, if any.
            EXPECT_TRUE((result == 1 && text == "0.0.0.0") || (result == 0 && (text.empty() || dotted(text))))
                << result << " " << text;
            EXPECT_FALSE(failed);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(text.empty() || dotted(text)) << text;
            EXPECT_FALSE(failed);
        }
    }
}

// The adapters of tests/net/netns-layout.sh's namespaces, as Wine lists them.
TEST(HostAdapter, AdaptersOfTheTestNamespace)
{
    const std::string layout = wintest::environment("HOSTNET_LAYOUT");
    if (layout.empty())
        GTEST_SKIP() << "no known adapter layout (HOSTNET_LAYOUT is unset): the machine's own adapters are only read";
    for (int item = 1; item <= 3; ++item) {
        std::string text = "unchanged";
        bool failed = false;
        const int result = ReadHostAdapter(item, text, &failed);
        if (layout == "bare") {
            // Loopback only: IP Helper lists no adapter, and says so to the
            // size query.
            EXPECT_EQ(result, 1);
            EXPECT_EQ(text, "0.0.0.0");
            EXPECT_TRUE(failed);
        } else if (layout == "unaddressed-first") {
            // The first adapter has no address: the later one is read, from
            // an interface key a fresh Wine prefix does not have.
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(text.empty() || dotted(text)) << text;
            EXPECT_FALSE(failed);
        } else {
            // An addressed first adapter: the values come from its interface
            // key, which a fresh Wine prefix does not have.
            const Adapter adapter = firstAdapter();
            ASSERT_TRUE(adapter.present);
            EXPECT_NE(adapter.address, "0.0.0.0");
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(failed);
            if (wintest::flag("DALVORA_WINE_PRIVATE_PREFIX")) {
                EXPECT_EQ(text, "") << "item " << item << " without an interface key";
            }
        }
    }
}

TEST(HostAdapter, ValuesOfADhcpAdapterComeFromTheInterfaceKey)
{
    const Adapter adapter = firstAdapter();
    std::string why;
    if (!scratchKeyAllowed(adapter, true, why))
        GTEST_SKIP() << why;
    ScratchInterfaceKey key(adapter.name);
    if (key.preexisting())
        GTEST_SKIP() << "the adapter already has an interface key";
    ASSERT_TRUE(key.usable());
    writeValueTable(key);
    EXPECT_EQ(read(1), "198.18.9.21");
    EXPECT_EQ(read(2), "255.255.254.0");
    EXPECT_EQ(read(3), "198.18.9.1") << "the first of the gateways";
}

TEST(HostAdapter, ValuesOfAnAdapterSetByHandComeFromTheInterfaceKey)
{
    const Adapter adapter = firstAdapter();
    std::string why;
    if (!scratchKeyAllowed(adapter, false, why))
        GTEST_SKIP() << why;
    ScratchInterfaceKey key(adapter.name);
    if (key.preexisting())
        GTEST_SKIP() << "the adapter already has an interface key";
    ASSERT_TRUE(key.usable());
    writeValueTable(key);
    EXPECT_EQ(read(1), "198.18.9.31") << "the first of the addresses";
    EXPECT_EQ(read(2), "255.255.255.128");
    EXPECT_EQ(read(3), "198.18.9.254");
}

// Values stored otherwise than the table says, and values that are missing.
TEST(HostAdapter, ValuesOfOtherTypesAndMissingValues)
{
    const Adapter adapter = firstAdapter();
    std::string why;
    if (!scratchKeyAllowed(adapter, adapter.dhcp, why))
        GTEST_SKIP() << why;
    ScratchInterfaceKey key(adapter.name);
    if (key.preexisting())
        GTEST_SKIP() << "the adapter already has an interface key";
    ASSERT_TRUE(key.usable());
    const char *address = adapter.dhcp ? "DhcpIpAddress" : "IpAddress";
    const char *mask = adapter.dhcp ? "DhcpSubnetMask" : "SubnetMask";
    const char *gateway = adapter.dhcp ? "DhcpDefaultGateway" : "DefaultGateway";

    // The text types give their first string, also without a final zero.
    key.multi(address, {"198.18.9.41", "198.18.9.42"});
    key.put(mask, REG_SZ, "255.255.252.0"); // no terminating zero
    key.put(gateway, REG_EXPAND_SZ, std::string("198.18.9.43\0", 12));
    EXPECT_EQ(read(1), "198.18.9.41");
    EXPECT_EQ(read(2), "255.255.252.0");
    EXPECT_EQ(read(3), "198.18.9.43");

    // Numbers and binary data hold no address text; an empty multi-string
    // holds none either.
    key.dword(address, 0x0A00A8C0u);
    key.put(mask, REG_BINARY, std::string("\xff\xff\xff\x00", 4));
    key.put(gateway, REG_MULTI_SZ, std::string("\0", 1));
    EXPECT_EQ(read(1), "");
    EXPECT_EQ(read(2), "");
    EXPECT_EQ(read(3), "");

    // Key without the values, and no key at all: empty text, result 0.
    key.remove();
    ScratchInterfaceKey empty(adapter.name);
    ASSERT_TRUE(empty.usable());
    EXPECT_EQ(read(1), "");
    empty.remove();
    for (int item = 1; item <= 3; ++item)
        EXPECT_EQ(read(item), "") << item;
}

// The adapters offered for the Options dialog's choice: addressed ones only,
// never the loopback; a choice the host does not have reads the first one.
TEST(HostAdapter, ListedAdaptersAndAChoiceThatIsGone)
{
    const std::vector<hostnet::HostAdapter> adapters = hostnet::ListHostAdapters();
    std::cout << adapters.size() << " adapter(s) listed\n";
    for (const hostnet::HostAdapter &a : adapters) {
        std::cout << "  " << a.id << " " << a.label << " " << hostnet::AddressToText(a.address) << "\n";
        EXPECT_FALSE(a.id.empty());
        EXPECT_NE(a.address, 0u);
        EXPECT_NE(a.address >> 24, 127u);
    }
    std::string first = "unchanged", chosen = "unchanged";
    bool failed = false;
    const int firstResult = hostnet::ReadHostAdapter(1, first, &failed);
    hostnet::SetHostAdapterChoice("{no such adapter}");
    EXPECT_EQ(hostnet::ReadHostAdapter(1, chosen, &failed), firstResult);
    EXPECT_EQ(chosen, first);
    hostnet::SetHostAdapterChoice("");
}
