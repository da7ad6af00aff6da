// Mailboxes of the From, To, Cc, Bcc and Reply-To fields: one item holds a
// display name and an address; a list holds the items of one header value.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern const char NetAtomChars[];      // 80 characters
extern const char NetNameChars[];      // the same and a space
extern const char NetEscapeChars[];    // backslash and double quote

int FindFirstOf(std::string_view set, std::string_view text);
int FindFirstNotOf(std::string_view set, std::string_view text);
std::string TrimAllOf(std::string_view set, std::string_view text);

class TNetEMailAddressItem {
public:
    TNetEMailAddressItem() = default;
    explicit TNetEMailAddressItem(std::string_view text) { SetText(text); }

    std::string Address;  // local part, "@" and domain, no angle brackets
    std::string Name;     // display name, no quotes

    void Assign(const TNetEMailAddressItem &other) {
        Address = other.Address;
        Name = other.Name;
    }
    std::string Text() const;
    // Parses one address; raises ENetEmailParseError "@ Outside address"
    // for an "@" after a closed angle-bracket pair.
    void SetText(std::string_view text);
    std::string User() const;
    void SetUser(std::string_view value);
    std::string Domain() const;
    void SetDomain(std::string_view value);

private:
    // The address as Text shows it, appended to out.
    void AppendAddressPart(std::string &out) const;
};

class TNetEMailAddressList {
public:
    TNetEMailAddressList() = default;
    TNetEMailAddressList(const TNetEMailAddressList &) = delete;
    TNetEMailAddressList &operator=(const TNetEMailAddressList &) = delete;

    int Count() const { return int(FItems.size()); }
    TNetEMailAddressItem &Add();
    TNetEMailAddressItem &Items(int index) { return *FItems.at(size_t(index)); }
    const TNetEMailAddressItem &Items(int index) const { return *FItems.at(size_t(index)); }
    TNetEMailAddressItem &operator[](int index) { return Items(index); }
    const TNetEMailAddressItem &operator[](int index) const { return Items(index); }
    void Delete(int index) { FItems.erase(FItems.begin() + index); }
    void Clear() { FItems.clear(); }
    void Assign(const TNetEMailAddressList &other);

    // The items' texts joined by ", ".
    std::string EMailAddresses() const;
    // Clears the list and parses a header value into items; the parse error
    // of an item passes out (the items before it stay).
    void SetEMailAddresses(std::string_view value);

private:
    std::vector<std::unique_ptr<TNetEMailAddressItem>> FItems;
};
