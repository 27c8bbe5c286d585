/*
 * ntfs_edit: creates and deletes files and folders inside an NTFS image file
 * with libntfs-3g, without mounting it. Test images are made with it so the
 * NTFS side of the tests rests on what a real NTFS implementation writes.
 *
 *   ntfs_edit IMAGE SCRIPT
 *
 * SCRIPT holds one operation a line, fields separated by a tab; paths are
 * UTF-8, absolute inside the volume, with '/' separators:
 *   mkdir  PATH
 *   put    HOSTFILE  PATH     (creates PATH with the bytes of HOSTFILE)
 *   rm     PATH               (deletes a file)
 *   rmdir  PATH               (deletes an empty folder)
 *   append HOSTFILE  PATH     (adds the bytes of HOSTFILE at the end of file PATH)
 * Empty lines and lines starting with '#' are ignored.
 *
 * For every created item it prints "created\tPATH\tMFT_RECORD\tWHERE\tEXTENTS" (WHERE
 * is "dir", or "resident" / "nonresident" for where the data was kept; EXTENTS lists
 * the data's clusters as LCN+COUNT separated by '/', or "-"), for every append
 * "appended\tPATH\tMFT_RECORD\tWHERE\tEXTENTS", and for every
 * deleted one "deleted\tPATH\tMFT_RECORD" on standard output. Exit status 0 on
 * success, 1 on the first failed operation (the volume is still unmounted
 * cleanly), 2 on bad usage.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/volume.h>

enum { kMaxNameUnits = 255 };

/* UTF-8 to UTF-16LE (what NTFS stores). Returns the number of units, or -1 on
 * malformed input or a name longer than NTFS allows. */
static int Utf8ToNtfsName(const char* text, size_t length, ntfschar* out) {
    int units = 0;
    size_t i = 0;
    while (i < length) {
        unsigned char c = (unsigned char)text[i];
        uint32_t cp;
        size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else
            return -1;
        if (i + extra >= length && extra > 0) return -1;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char d = (unsigned char)text[i + k];
            if ((d & 0xC0) != 0x80) return -1;
            cp = (cp << 6) | (d & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            if (units + 2 > kMaxNameUnits) return -1;
            cp -= 0x10000;
            out[units++] = cpu_to_le16((u16)(0xD800 | (cp >> 10)));
            out[units++] = cpu_to_le16((u16)(0xDC00 | (cp & 0x3FF)));
        } else {
            if (units + 1 > kMaxNameUnits) return -1;
            out[units++] = cpu_to_le16((u16)cp);
        }
    }
    return units;
}

/* Opens the folder PATH names (walking from the root), or NULL. */
static ntfs_inode* OpenFolder(ntfs_volume* vol, const char* path, size_t length) {
    ntfs_inode* dir = ntfs_inode_open(vol, FILE_root);
    size_t i = 0;
    while (dir && i < length) {
        while (i < length && path[i] == '/') ++i;
        if (i >= length) break;
        size_t end = i;
        while (end < length && path[end] != '/') ++end;
        ntfschar name[kMaxNameUnits];
        int units = Utf8ToNtfsName(path + i, end - i, name);
        u64 ref = units > 0 ? ntfs_inode_lookup_by_name(dir, name, units) : (u64)-1;
        ntfs_inode_close(dir);
        dir = ref == (u64)-1 ? NULL : ntfs_inode_open(vol, MREF(ref));
        i = end;
    }
    return dir;
}

/* Splits PATH into its folder and its last name; opens the folder. */
static ntfs_inode* OpenParent(ntfs_volume* vol, const char* path, ntfschar* name, int* units) {
    const char* slash = strrchr(path, '/');
    if (!slash || slash[1] == '\0') return NULL;
    *units = Utf8ToNtfsName(slash + 1, strlen(slash + 1), name);
    if (*units <= 0) return NULL;
    return OpenFolder(vol, path, (size_t)(slash - path));
}

/* Writes the clusters of a non-resident attribute as "LCN+COUNT/LCN+COUNT..." ("-" when
 * it has none, or the text would not fit). */
static void ExtentsOf(ntfs_attr* na, char* out, size_t size) {
    snprintf(out, size, "-");
    if (ntfs_attr_map_whole_runlist(na) || !na->rl) return;
    size_t used = 0;
    for (const runlist_element* r = na->rl; r->length != 0; ++r) {
        if (r->lcn < 0) continue; /* a hole or the end marker */
        int n = snprintf(out + used, size - used, "%s%lld+%lld", used ? "/" : "", (long long)r->lcn,
                         (long long)r->length);
        if (n < 0 || (size_t)n >= size - used) {
            snprintf(out, size, "-");
            return;
        }
        used += (size_t)n;
    }
    if (used == 0) snprintf(out, size, "-");
}

/* Writes the bytes of HOSTFILE into the data of `ni` from its current end and prints
 * REPORT with where the data lies. Returns 0 or -1. */
static int CopyIn(ntfs_inode* ni, const char* hostFile, const char* path, const char* report) {
    static char buffer[1 << 16];
    char extents[4096] = "-";
    const char* where = "resident";
    int rc = 0;
    FILE* in = fopen(hostFile, "rb");
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!in || !na) {
        fprintf(stderr, "ntfs_edit: cannot copy %s to %s\n", hostFile, path);
        rc = -1;
    }
    s64 pos = na ? na->data_size : 0;
    size_t n;
    while (rc == 0 && (n = fread(buffer, 1, sizeof buffer, in)) > 0) {
        size_t done = 0;
        while (done < n) {
            s64 w = ntfs_attr_pwrite(na, pos, (s64)(n - done), buffer + done);
            if (w <= 0) {
                fprintf(stderr, "ntfs_edit: write to %s failed: %s\n", path, strerror(errno));
                rc = -1;
                break;
            }
            done += (size_t)w;
            pos += w;
        }
    }
    if (na) {
        if (NAttrNonResident(na)) {
            where = "nonresident";
            ExtentsOf(na, extents, sizeof extents);
        }
        ntfs_attr_close(na);
    }
    if (in) fclose(in);
    if (rc == 0)
        printf("%s\t%s\t%llu\t%s\t%s\n", report, path, (unsigned long long)ni->mft_no, where, extents);
    return rc;
}

static int Create(ntfs_volume* vol, const char* path, const char* hostFile) {
    ntfschar name[kMaxNameUnits];
    int units = 0;
    ntfs_inode* dir = OpenParent(vol, path, name, &units);
    if (!dir) {
        fprintf(stderr, "ntfs_edit: no parent folder for %s\n", path);
        return -1;
    }
    ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), name, (u8)units, hostFile ? S_IFREG : S_IFDIR);
    if (!ni) {
        fprintf(stderr, "ntfs_edit: cannot create %s: %s\n", path, strerror(errno));
        ntfs_inode_close(dir);
        return -1;
    }
    int rc = 0;
    if (hostFile)
        rc = CopyIn(ni, hostFile, path, "created");
    else
        printf("created\t%s\t%llu\tdir\t-\n", path, (unsigned long long)ni->mft_no);
    /* Closing the new inode through its folder refreshes the sizes kept in the folder's index. */
    if (ntfs_inode_close_in_dir(ni, dir)) rc = -1;
    if (ntfs_inode_close(dir)) rc = -1;
    return rc;
}

static int Append(ntfs_volume* vol, const char* path, const char* hostFile) {
    ntfschar name[kMaxNameUnits];
    int units = 0;
    ntfs_inode* dir = OpenParent(vol, path, name, &units);
    if (!dir) {
        fprintf(stderr, "ntfs_edit: no parent folder for %s\n", path);
        return -1;
    }
    u64 ref = ntfs_inode_lookup_by_name(dir, name, units);
    ntfs_inode* ni = ref == (u64)-1 ? NULL : ntfs_inode_open(vol, MREF(ref));
    if (!ni) {
        fprintf(stderr, "ntfs_edit: %s not found\n", path);
        ntfs_inode_close(dir);
        return -1;
    }
    int rc = CopyIn(ni, hostFile, path, "appended");
    if (ntfs_inode_close_in_dir(ni, dir)) rc = -1;
    if (ntfs_inode_close(dir)) rc = -1;
    return rc;
}

static int Delete(ntfs_volume* vol, const char* path) {
    ntfschar name[kMaxNameUnits];
    int units = 0;
    ntfs_inode* dir = OpenParent(vol, path, name, &units);
    if (!dir) {
        fprintf(stderr, "ntfs_edit: no parent folder for %s\n", path);
        return -1;
    }
    u64 ref = ntfs_inode_lookup_by_name(dir, name, units);
    ntfs_inode* ni = ref == (u64)-1 ? NULL : ntfs_inode_open(vol, MREF(ref));
    if (!ni) {
        fprintf(stderr, "ntfs_edit: %s not found\n", path);
        ntfs_inode_close(dir);
        return -1;
    }
    unsigned long long record = (unsigned long long)ni->mft_no;
    /* ntfs_delete closes both inodes whatever happens. */
    if (ntfs_delete(vol, path, ni, dir, name, (u8)units)) {
        fprintf(stderr, "ntfs_edit: cannot delete %s: %s\n", path, strerror(errno));
        return -1;
    }
    printf("deleted\t%s\t%llu\n", path, record);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: ntfs_edit IMAGE SCRIPT\n");
        return 2;
    }
    FILE* script = fopen(argv[2], "r");
    if (!script) {
        fprintf(stderr, "ntfs_edit: cannot read %s\n", argv[2]);
        return 2;
    }
    ntfs_volume* vol = ntfs_mount(argv[1], NTFS_MNT_NONE);
    if (!vol) {
        fprintf(stderr, "ntfs_edit: cannot open the NTFS volume in %s: %s\n", argv[1], strerror(errno));
        fclose(script);
        return 1;
    }
    int rc = 0;
    char line[8192];
    unsigned lineNumber = 0;
    while (rc == 0 && fgets(line, sizeof line, script)) {
        ++lineNumber;
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0' || line[0] == '#') continue;
        char* fields[3] = {line, NULL, NULL};
        int count = 1;
        for (char* p = line; *p && count < 3; ++p) {
            if (*p == '\t') {
                *p = '\0';
                fields[count++] = p + 1;
            }
        }
        const char* op = fields[0];
        if (strcmp(op, "mkdir") == 0 && count == 2)
            rc = Create(vol, fields[1], NULL);
        else if (strcmp(op, "put") == 0 && count == 3)
            rc = Create(vol, fields[2], fields[1]);
        else if ((strcmp(op, "rm") == 0 || strcmp(op, "rmdir") == 0) && count == 2)
            rc = Delete(vol, fields[1]);
        else if (strcmp(op, "append") == 0 && count == 3)
            rc = Append(vol, fields[2], fields[1]);
        else {
            fprintf(stderr, "ntfs_edit: line %u: bad operation\n", lineNumber);
            rc = -1;
        }
    }
    fclose(script);
    fflush(stdout);
    if (ntfs_umount(vol, FALSE)) {
        fprintf(stderr, "ntfs_edit: unmount failed: %s\n", strerror(errno));
        rc = -1;
    }
    return rc == 0 ? 0 : 1;
}
