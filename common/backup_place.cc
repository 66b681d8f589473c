#include "common/backup_place.h"

#include "common/backup_path.h"

bool BackupPlace::walk(const Path& path) {
    walked_ = false;
    held_.clear();
    missing_.clear();
    const BackupRoute route = routeOf(path, isLiteralPath(path) ? Path() : files_.fullPath(path));
    if (route.kind == RouteKind::invalid ||
        (route.kind == RouteKind::foreign && files_.elevated())) {
        return false;
    }
    OpenedFolder root = files_.openRoot(route.root);
    if (root.state != PathState::present) {
        return false;
    }
    held_.push_back(std::move(root.folder));
    for (size_t i = 0; i < route.folders.size(); ++i) {
        OpenedFolder next = files_.openFolder(*held_.back(), route.folders[i], /*create=*/false);
        if (next.state == PathState::unknown) {
            return false;
        }
        if (next.state == PathState::absent) {
            missing_.assign(route.folders.begin() + static_cast<std::ptrdiff_t>(i),
                            route.folders.end());
            break;
        }
        held_.push_back(std::move(next.folder));
    }
    walked_ = true;
    leaf_ = missing_.empty() ? files_.nameOnDisk(folder(), route.leaf) : route.leaf;
    temporary_ = temporaryNameFor(leaf_);
    return true;
}

bool BackupPlace::makeFolders() {
    if (!walked_) {
        return false;
    }
    while (!missing_.empty()) {
        OpenedFolder made = files_.openFolder(*held_.back(), missing_.front(), /*create=*/true);
        if (made.state != PathState::present) {
            return false;
        }
        held_.push_back(std::move(made.folder));
        missing_.erase(missing_.begin());
    }
    return true;
}

Path BackupPlace::lockKey() {
    std::vector<Path> below = missing_;
    below.push_back(leaf_);
    return files_.placeKey(*held_.back(), below);
}
