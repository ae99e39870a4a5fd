/* pwg_page: writes a PWG raster document, the way an IPP Everywhere client
 * does, with libcups' raster API. Each page is a binary gray PGM picture
 * placed at the top left of a page of the named PWG media size, white around.
 *
 *   pwg_page OUT.pwg MEDIA DPI PICTURE.pgm [PICTURE.pgm...]
 */
#include <cups/raster.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef struct {
    unsigned width, height;
    unsigned char *pixels;
} picture_t;

/* A "P5" PGM with a maximum value of 255 and no comments. */
static int read_pgm(const char *path, picture_t *picture) {
    FILE *file = fopen(path, "rb");
    unsigned maximum = 0;
    int ok = file && fscanf(file, "P5 %u %u %u", &picture->width, &picture->height, &maximum) == 3 &&
             maximum == 255 && fgetc(file) != EOF && picture->width > 0 && picture->height > 0 &&
             picture->width <= 20000 && picture->height <= 20000;
    if (ok) {
        size_t size = (size_t)picture->width * picture->height;
        picture->pixels = malloc(size);
        ok = picture->pixels && fread(picture->pixels, 1, size, file) == size;
    }
    if (file) fclose(file);
    return ok;
}

static int write_page(cups_raster_t *raster, cups_page_header2_t *header, const picture_t *picture) {
    unsigned char *line = malloc(header->cupsBytesPerLine);
    int ok = line && cupsRasterWriteHeader2(raster, header);
    for (unsigned y = 0; ok && y < header->cupsHeight; y++) {
        memset(line, 255, header->cupsBytesPerLine);
        if (y < picture->height) {
            unsigned width = picture->width < header->cupsWidth ? picture->width : header->cupsWidth;
            memcpy(line, picture->pixels + (size_t)y * picture->width, width);
        }
        ok = cupsRasterWritePixels(raster, line, header->cupsBytesPerLine) == header->cupsBytesPerLine;
    }
    free(line);
    return ok;
}

int main(int argc, char *argv[]) {
    if (argc < 5) {
        fputs("usage: pwg_page OUT.pwg MEDIA DPI PICTURE.pgm [PICTURE.pgm...]\n", stderr);
        return 2;
    }
    pwg_media_t *media = pwgMediaForPWG(argv[2]);
    int dpi = atoi(argv[3]);
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t *raster = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG) : NULL;
    int ok = media && dpi > 0 && raster;
    for (int i = 4; ok && i < argc; i++) {
        cups_page_header2_t header;
        picture_t picture = {0, 0, NULL};
        ok = read_pgm(argv[i], &picture) &&
             cupsRasterInitPWGHeader(&header, media, "sgray_8", dpi, dpi, "one-sided", NULL);
        if (ok) {
            header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = (unsigned)(argc - 4);
            ok = write_page(raster, &header, &picture);
        }
        free(picture.pixels);
    }
    if (raster) cupsRasterClose(raster);
    if (fd >= 0) close(fd);
    if (!ok) fprintf(stderr, "pwg_page: cannot write %s\n", argv[1]);
    return ok ? 0 : 1;
}
