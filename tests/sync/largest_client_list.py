#!/usr/bin/env python3
"""largest_client_list.py <folder> <files> <path bytes>

A game server's client-files list of exactly <files> files whose local paths
("resources/<name>/<path>") are <path bytes> long, in <folder>/client-files.json, with every
listed file present and empty under <folder>/cache, and in <folder>/state.json the record of a
run that verified them all but did not finish (sizes and times as Wine reports them, complete
false), so that the next run trusts every file instead of hashing 200,000 of them. Made natively
before the sync tests run: creating the files one by one through Wine takes many minutes. Kept
between runs.
"""
import os
import shutil
import sys

EMPTY_MD5 = "d41d8cd98f00b204e9800998ecf8427e"
PER_RESOURCE = 1000


def main():
    folder, count, path_bytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    done = os.path.join(folder, "done-%d-%d-with-state" % (count, path_bytes))
    if os.path.exists(done):
        return
    shutil.rmtree(folder, ignore_errors=True)
    folders = "d" * 100 + "/" + "e" * 100 + "/"
    resources, state = [], []
    for r in range((count + PER_RESOURCE - 1) // PER_RESOURCE):
        name = "r%03d" % r
        local = os.path.join(folder, "cache", "resources", name, folders)
        os.makedirs(local)
        entries = []
        for i in range(r * PER_RESOURCE, min(count, (r + 1) * PER_RESOURCE)):
            number = str(i)
            file = "f" * (path_bytes - len("resources/" + name + "/" + folders) - len(number)) + number
            full = os.path.join(local, file)
            open(full, "wb").close()
            entries.append('{"path":"%s%s","size":0,"md5":"%s"}' % (folders, file, EMPTY_MD5))
            mtime = os.stat(full).st_mtime_ns // 100 + 116444736000000000
            state.append('{"path":"resources/%s/%s%s","hash":"%s","size":0,"mtime":%d}'
                         % (name, folders, file, EMPTY_MD5, mtime))
        resources.append('{"name":"%s","files":[%s]}' % (name, ",".join(entries)))
    with open(os.path.join(folder, "client-files.json"), "w") as out:
        out.write('{"schema":1,"resources":[%s]}' % ",".join(resources))
    with open(os.path.join(folder, "state.json"), "w") as out:
        out.write('{"version":1,"build":"server","complete":false,"files":[%s]}' % ",".join(state))
    open(done, "w").close()


if __name__ == "__main__":
    main()
