/*
 * ntfs_put_compressed: writes a file compressed by libntfs-3g into an NTFS
 * image file, without mounting it, so tests of compressed data rest on what a
 * real NTFS implementation writes (ntfs_edit deletes it afterwards).
 *
 *   ntfs_put_compressed IMAGE HOSTFILE NAME
 *
 * The file is created as /packed/NAME; the folder /packed is created with the
 * compressed attribute when missing, so the files made in it are compressed.
 * Prints "NAME\tMFT_RECORD\tcompressed" (or "plain" when the library did not
 * compress) on standard output. Exit status 0 on success, 1 on failure, 2 on
 * bad usage.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

static ntfs_inode* PackedFolder(ntfs_volume* vol, ntfs_inode* root) {
    ntfschar* name = NULL;
    int units = ntfs_mbstoucs("packed", &name);
    if (units <= 0) return NULL;
    u64 ref = ntfs_inode_lookup_by_name(root, name, units);
    ntfs_inode* dir = NULL;
    if (ref != (u64)-1) {
        dir = ntfs_inode_open(vol, MREF(ref));
    } else {
        dir = ntfs_create(root, const_cpu_to_le32(0), name, (u8)units, S_IFDIR);
        le32 attrib = const_cpu_to_le32(FILE_ATTR_COMPRESSED | FILE_ATTR_DIRECTORY);
        if (dir && ntfs_set_ntfs_attrib(dir, (const char*)&attrib, sizeof attrib, 0)) {
            fprintf(stderr, "ntfs_put_compressed: cannot mark /packed compressed: %s\n", strerror(errno));
        }
    }
    free(name);
    return dir;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s IMAGE HOSTFILE NAME\n", argv[0]);
        return 2;
    }
    ntfs_volume* vol = ntfs_mount(argv[1], 0);
    if (!vol) {
        fprintf(stderr, "ntfs_put_compressed: cannot open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    /* Files inherit compression from their folder only when the volume allows it. */
    NVolSetCompression(vol);
    int rc = 1;
    ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
    ntfs_inode* dir = root ? PackedFolder(vol, root) : NULL;
    ntfschar* name = NULL;
    int units = ntfs_mbstoucs(argv[3], &name);
    ntfs_inode* ni =
        dir && units > 0 ? ntfs_create(dir, const_cpu_to_le32(0), name, (u8)units, S_IFREG) : NULL;
    FILE* in = fopen(argv[2], "rb");
    ntfs_attr* na = ni ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : NULL;
    if (ni && na && in) {
        static char buffer[1 << 16];
        s64 pos = 0;
        size_t n;
        rc = 0;
        while (rc == 0 && (n = fread(buffer, 1, sizeof buffer, in)) > 0) {
            s64 w = ntfs_attr_pwrite(na, pos, (s64)n, buffer);
            if (w != (s64)n) rc = 1;
            pos += w > 0 ? w : 0;
        }
        printf("%s\t%llu\t%s\n", argv[3], (unsigned long long)ni->mft_no,
               NAttrCompressed(na) ? "compressed" : "plain");
    } else {
        fprintf(stderr, "ntfs_put_compressed: cannot create /packed/%s\n", argv[3]);
    }
    if (na) ntfs_attr_close(na);
    if (in) fclose(in);
    if (ni && ntfs_inode_close_in_dir(ni, dir)) rc = 1;
    if (dir) ntfs_inode_close_in_dir(dir, root);
    if (root) ntfs_inode_close(root);
    free(name);
    if (ntfs_umount(vol, 0)) rc = 1;
    return rc;
}
