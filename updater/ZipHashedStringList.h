// A chained hash from names to list positions, and a string list that keeps
// two such indices (whole items and the names before "=").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

class TZipStringHash {
public:
    explicit TZipStringHash(int bucketCount);
    ~TZipStringHash();
    TZipStringHash(const TZipStringHash &) = delete;
    TZipStringHash &operator=(const TZipStringHash &) = delete;

    struct Node {
        std::string Key;
        int Value;
        Node *Next;
    };

    static uint32_t HashOf(const std::string &key);
    int BucketCount() const { return int(FBuckets.size()); }
    void Add(const std::string &key, int value);  // at the head of its chain
    Node *Find(const std::string &key) const;     // exact key
    void Remove(const std::string &key);
    int ValueOf(const std::string &key) const;    // -1 when absent
    void Clear();

private:
    std::vector<Node *> FBuckets;
};

class TZipHashedStringList {
public:
    explicit TZipHashedStringList(bool caseSensitive = false) : FCaseSensitive(caseSensitive) {}

    int Count() const { return FList.Count(); }
    const std::string &Strings(int i) const { return FList[i]; }
    const std::string &operator[](int i) const { return FList[i]; }
    bool CaseSensitive() const { return FCaseSensitive; }

    int Add(const std::string &s);
    void Delete(int index);
    void Clear();
    int IndexOf(const std::string &s);
    int IndexOfName(const std::string &name);
    // Replaces the item at index, keeping the item index current.
    void Put(int index, const std::string &s);

    // For checks: the bucket count of the item index, 0 when it is dropped.
    int ItemIndexBuckets() const { return FItemIndex ? FItemIndex->BucketCount() : 0; }
    bool ItemIndexCurrent() const { return FItemIndexValid; }

private:
    std::string KeyOf(const std::string &s) const;
    void MakeItemIndexCurrent();
    void MakeNameIndexCurrent();

    TStringList FList;
    bool FCaseSensitive;
    std::unique_ptr<TZipStringHash> FItemIndex;
    bool FItemIndexValid = false;
    std::unique_ptr<TZipStringHash> FNameIndex;
    bool FNameIndexValid = false;
};
