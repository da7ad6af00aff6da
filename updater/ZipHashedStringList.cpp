#include "ZipHashedStringList.h"

#include <algorithm>

#include "SysUtils.h"

TZipStringHash::TZipStringHash(int bucketCount) : FBuckets(size_t(std::max(bucketCount, 1)), nullptr) {}

TZipStringHash::~TZipStringHash() { Clear(); }

uint32_t TZipStringHash::HashOf(const std::string &key) {
    uint32_t h = 0;
    for (unsigned char c : key) h = ((h << 2) | (h >> 30)) ^ c;
    return h;
}

void TZipStringHash::Add(const std::string &key, int value) {
    Node *&head = FBuckets[HashOf(key) % FBuckets.size()];
    head = new Node{key, value, head};
}

TZipStringHash::Node *TZipStringHash::Find(const std::string &key) const {
    for (Node *n = FBuckets[HashOf(key) % FBuckets.size()]; n; n = n->Next)
        if (n->Key == key) return n;
    return nullptr;
}

void TZipStringHash::Remove(const std::string &key) {
    Node **link = &FBuckets[HashOf(key) % FBuckets.size()];
    for (; *link; link = &(*link)->Next) {
        if ((*link)->Key == key) {
            Node *gone = *link;
            *link = gone->Next;
            delete gone;
            return;
        }
    }
}

int TZipStringHash::ValueOf(const std::string &key) const {
    Node *n = Find(key);
    return n ? n->Value : -1;
}

void TZipStringHash::Clear() {
    for (Node *&head : FBuckets) {
        while (head) {
            Node *next = head->Next;
            delete head;
            head = next;
        }
    }
}

std::string TZipHashedStringList::KeyOf(const std::string &s) const {
    return FCaseSensitive ? s : UpperCase(s);
}

int TZipHashedStringList::Add(const std::string &s) {
    int index = FList.Add(s);
    if (FItemIndex && FItemIndexValid) {
        FItemIndex->Add(KeyOf(s), index);
        // A chain length past five makes lookups slow; rebuild larger later.
        if (FList.Count() > 5 * FItemIndex->BucketCount()) {
            FItemIndex.reset();
            FItemIndexValid = false;
        }
    }
    FNameIndexValid = false;
    return index;
}

void TZipHashedStringList::Delete(int index) {
    FList.Delete(index);
    FItemIndexValid = false;
    FNameIndexValid = false;
}

void TZipHashedStringList::Clear() {
    FList.Clear();
    if (FItemIndex) FItemIndex->Clear();
    if (FNameIndex) FNameIndex->Clear();
    FItemIndexValid = false;
    FNameIndexValid = false;
}

void TZipHashedStringList::MakeItemIndexCurrent() {
    if (!FItemIndex) {
        FItemIndex = std::make_unique<TZipStringHash>(std::max(FList.Count(), 1000));
        FItemIndexValid = false;
    }
    if (FItemIndexValid) return;
    FItemIndex->Clear();
    // Added from the end so that, for equal keys, the first item heads its
    // chain and is the one found.
    for (int i = FList.Count() - 1; i >= 0; --i) FItemIndex->Add(KeyOf(FList[i]), i);
    FItemIndexValid = true;
}

void TZipHashedStringList::MakeNameIndexCurrent() {
    if (!FNameIndex) {
        FNameIndex = std::make_unique<TZipStringHash>(256);
        FNameIndexValid = false;
    }
    if (FNameIndexValid) return;
    FNameIndex->Clear();
    for (int i = FList.Count() - 1; i >= 0; --i) {
        int eq = Pos("=", FList[i]);
        if (eq > 0) FNameIndex->Add(KeyOf(Copy(FList[i], 1, eq - 1)), i);
    }
    FNameIndexValid = true;
}

int TZipHashedStringList::IndexOf(const std::string &s) {
    MakeItemIndexCurrent();
    return FItemIndex->ValueOf(KeyOf(s));
}

int TZipHashedStringList::IndexOfName(const std::string &name) {
    MakeNameIndexCurrent();
    return FNameIndex->ValueOf(KeyOf(name));
}

void TZipHashedStringList::Put(int index, const std::string &s) {
    std::string old = FList[index];
    FList[index] = s;
    if (FItemIndex && FItemIndexValid) {
        FItemIndex->Remove(KeyOf(old));
        FItemIndex->Add(KeyOf(s), index);
        // Another item may have had the old key too; the chain no longer
        // tells which came first, so rebuild on the next lookup.
        if (FItemIndex->Find(KeyOf(old))) FItemIndexValid = false;
    }
    FNameIndexValid = false;
}
