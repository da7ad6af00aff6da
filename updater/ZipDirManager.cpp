#include "ZipDirManager.h"

#include <algorithm>
#include <sys/stat.h>

#include "SysUtils.h"

bool TZipDirItem::IsFolder() const {
    if (ExternalAttr & faDirectory) return true;
    if (!Name.empty() && (Name.back() == '/' || Name.back() == '\\')) return true;
    return HasUnixMode() && S_ISDIR(UnixMode());
}

bool TZipDirItem::IsSymlink() const { return HasUnixMode() && S_ISLNK(UnixMode()); }

void TZipDirArray::Grow() {
    if (FItems.size() < FItems.capacity()) return;
    FItems.reserve(FItems.capacity() + size_t(FGrowStep));
    FGrowStep = std::min(FGrowStep * 2, 10000);
}

int TZipDirArray::Add(TZipDirItem item) {
    Grow();
    FNames.Add(LowerCase(item.Name));
    FItems.push_back(std::move(item));
    return int(FItems.size()) - 1;
}

void TZipDirArray::Delete(int index) {
    FItems.erase(FItems.begin() + index);
    FNames.Delete(index);
}

void TZipDirArray::SetCount(int count) {
    if (count <= 0) {
        std::vector<TZipDirItem>().swap(FItems);
        FNames.Clear();
        FGrowStep = 500;
        return;
    }
    while (Count() < count) Add(TZipDirItem{});
    while (Count() > count) Delete(Count() - 1);
}

int TZipDirArray::IndexOf(const std::string &name) { return FNames.IndexOf(LowerCase(name)); }

bool TZipDirArray::Rename(int index, const std::string &newName) {
    int other = IndexOf(newName);
    if (other >= 0 && other != index) return false;
    FItems.at(size_t(index)).Name = newName;
    FNames.Put(index, LowerCase(newName));
    return true;
}

void TZipDirArray::Assign(const TZipDirArray &other) {
    SetCount(0);
    for (const TZipDirItem &item : other.FItems) Add(item);
}

void TZipDirArray::KeepOnly(const std::vector<bool> &keep) {
    std::vector<TZipDirItem> items;
    items.swap(FItems);
    SetCount(0);
    for (size_t i = 0; i < items.size(); ++i)
        if (i < keep.size() && keep[i]) Add(std::move(items[i]));
}
