/* A USB modem's AT port for the guest, on FunctionFS: one vendor-specific
 * interface whose bulk endpoints are bridged to a pty, where modemsim plays
 * the modem. What a row varies is the control side, which the generic
 * serial function cannot: class requests accepted or stalled, and an
 * interrupt endpoint with the serial-state notifications a modem sends.
 *
 *   usb_function MOUNT LINK LOG BEHAVIOUR
 *
 * MOUNT: the functionfs mount; LINK: made a symlink to the pty's modem
 * side; LOG: each SET_CONTROL_LINE_STATE's value, one "%04x" line each.
 * BEHAVIOUR, comma-separated: "stall" (every class request stalled, else
 * accepted); "status" (an interrupt endpoint); BITS@MS (a SERIAL_STATE of
 * BITS, DCD 1, DSR 2, sent MS after the host raises DTR; at 0, before the
 * request that raised it completes, so that the port's open returns with
 * the lines reported). Runs until killed. */
#define _GNU_SOURCE
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define MAX_NOTIFICATIONS 4
#define SERIAL_STATE 0x20
#define SET_CONTROL_LINE_STATE 0x22

static struct {
    int stall, status, count;
    int bits[MAX_NOTIFICATIONS], ms[MAX_NOTIFICATIONS];
} behaviour;
static int ep0, bulk_in, bulk_out, interrupt_in, master, log_fd;
static int raised[2]; /* a pipe: one byte each time the host raises DTR */

static void die(const char *what)
{
    perror(what);
    exit(1);
}

static void parse_behaviour(char *text)
{
    for (char *word = strtok(text, ","); word != NULL; word = strtok(NULL, ",")) {
        if (strcmp(word, "stall") == 0)
            behaviour.stall = 1;
        else if (strcmp(word, "status") == 0)
            behaviour.status = 1;
        else if (behaviour.count < MAX_NOTIFICATIONS &&
                 sscanf(word, "%i@%i", &behaviour.bits[behaviour.count], &behaviour.ms[behaviour.count]) == 2)
            behaviour.count++;
        else if (strcmp(word, "accept") != 0) {
            fprintf(stderr, "usb_function: what is %s?\n", word);
            exit(2);
        }
    }
}

static void put(char *buffer, size_t *length, const void *what, size_t size)
{
    memcpy(buffer + *length, what, size);
    *length += size;
}

/* One speed's interface and endpoints: bulk in, bulk out, interrupt in. */
static void put_interface(char *buffer, size_t *length, int bulk_size)
{
    struct usb_interface_descriptor interface = {
        .bLength = sizeof interface, .bDescriptorType = USB_DT_INTERFACE,
        .bNumEndpoints = behaviour.status ? 3 : 2, .bInterfaceClass = USB_CLASS_VENDOR_SPEC,
        .bInterfaceSubClass = 0xff, .bInterfaceProtocol = 0xff, .iInterface = 1,
    };
    struct usb_endpoint_descriptor_no_audio endpoints[] = {
        {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, htole16(bulk_size), 0},
        {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, htole16(bulk_size), 0},
        /* usb-serial's buffer is the packet size: room for a SERIAL_STATE */
        {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 3 | USB_DIR_IN, USB_ENDPOINT_XFER_INT, htole16(16), 4},
    };
    put(buffer, length, &interface, sizeof interface);
    put(buffer, length, endpoints, sizeof endpoints[0] * interface.bNumEndpoints);
}

static void write_descriptors(void)
{
    char buffer[256];
    size_t length = sizeof(struct usb_functionfs_descs_head_v2);
    int count = behaviour.status ? 4 : 3;
    uint32_t counts[] = {htole32(count), htole32(count)}; /* full speed, high speed */
    put(buffer, &length, counts, sizeof counts);
    put_interface(buffer, &length, 64);
    put_interface(buffer, &length, 512);
    struct usb_functionfs_descs_head_v2 head = {
        htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), htole32(length),
        htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC),
    };
    memcpy(buffer, &head, sizeof head);
    if (write(ep0, buffer, length) != (ssize_t)length)
        die("descriptors");
    const struct {
        struct usb_functionfs_strings_head head;
        uint16_t language;
        char name[8];
    } __attribute__((packed)) strings = {
        {htole32(FUNCTIONFS_STRINGS_MAGIC), htole32(sizeof strings), htole32(1), htole32(1)},
        htole16(0x0409), "AT port",
    };
    if (write(ep0, &strings, sizeof strings) != sizeof strings)
        die("strings");
}

static int open_endpoint(const char *mount, int number)
{
    char path[256];
    snprintf(path, sizeof path, "%s/ep%d", mount, number);
    int fd = open(path, O_RDWR);
    if (fd < 0)
        die(path);
    return fd;
}

/* The modem's side: a pty whose slave stays open here, raw, so that the
 * master never hangs up between modems and nothing is echoed to the host. */
static void open_pty(const char *link)
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        die("pty");
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    struct termios settings;
    if (slave < 0 || tcgetattr(slave, &settings) != 0)
        die("pty slave");
    cfmakeraw(&settings);
    tcsetattr(slave, TCSANOW, &settings);
    unlink(link);
    if (symlink(ptsname(master), link) != 0)
        die(link);
}

/* Copies from one fd to the other for ever; a transfer that fails (the
 * function disabled, the host's port closed) is dropped, as a link would. */
static void copy(int from, int to, size_t most)
{
    char buffer[4096];
    for (;;) {
        ssize_t got = read(from, buffer, most);
        if (got <= 0 || write(to, buffer, got) < 0)
            usleep(10000);
    }
}

static void *host_to_modem(void *unused)
{
    (void)unused;
    copy(bulk_out, master, 4096);
    return NULL;
}

/* Less than a high-speed packet: each write ends the host's transfer. */
static void *modem_to_host(void *unused)
{
    (void)unused;
    copy(master, bulk_in, 511);
    return NULL;
}

static void notify(int bits)
{
    struct {
        struct usb_ctrlrequest request;
        uint16_t bits;
    } __attribute__((packed)) state = {
        {USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE, SERIAL_STATE, 0, 0, htole16(2)}, htole16(bits),
    };
    if (write(interrupt_in, &state, sizeof state) < 0)
        perror("notification");
}

/* The notifications after a delay, counted from each time DTR goes up. */
static void *later_notifications(void *unused)
{
    (void)unused;
    char byte;
    while (read(raised[0], &byte, 1) == 1) {
        int waited = 0;
        for (int i = 0; i < behaviour.count; i++) {
            if (behaviour.ms[i] == 0)
                continue;
            usleep((behaviour.ms[i] - waited) * 1000);
            waited = behaviour.ms[i];
            notify(behaviour.bits[i]);
        }
    }
    return NULL;
}

static void control_lines(int value)
{
    static int dtr;
    dprintf(log_fd, "%04x\n", value);
    if ((value & 1) && !dtr) {
        for (int i = 0; i < behaviour.count; i++)
            if (behaviour.ms[i] == 0)
                notify(behaviour.bits[i]);
        if (write(raised[1], "", 1) != 1)
            die("pipe");
    }
    dtr = value & 1;
}

/* A request is accepted by taking its data stage (or a zero-length status)
 * in its own direction; FunctionFS stalls one taken in the other. */
static void setup(const struct usb_ctrlrequest *request)
{
    char data[256];
    size_t length = le16toh(request->wLength) < sizeof data ? le16toh(request->wLength) : sizeof data;
    int accept = !behaviour.stall && (request->bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
    if (accept && request->bRequest == SET_CONTROL_LINE_STATE)
        control_lines(le16toh(request->wValue));
    int in = (request->bRequestType & USB_DIR_IN) != 0;
    memset(data, 0, sizeof data);
    if (in == accept)
        (void)!write(ep0, data, accept ? length : 0);
    else
        (void)!read(ep0, data, accept ? length : 0);
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: usb_function MOUNT LINK LOG BEHAVIOUR\n");
        return 2;
    }
    parse_behaviour(argv[4]);
    char path[256];
    snprintf(path, sizeof path, "%s/ep0", argv[1]);
    if ((ep0 = open(path, O_RDWR)) < 0)
        die(path);
    write_descriptors();
    bulk_in = open_endpoint(argv[1], 1);
    bulk_out = open_endpoint(argv[1], 2);
    if (behaviour.status)
        interrupt_in = open_endpoint(argv[1], 3);
    if ((log_fd = open(argv[3], O_WRONLY | O_CREAT | O_APPEND, 0644)) < 0)
        die(argv[3]);
    open_pty(argv[2]);
    if (pipe(raised) != 0)
        die("pipe");
    pthread_t thread;
    pthread_create(&thread, NULL, host_to_modem, NULL);
    pthread_create(&thread, NULL, modem_to_host, NULL);
    pthread_create(&thread, NULL, later_notifications, NULL);
    for (;;) {
        struct usb_functionfs_event event;
        if (read(ep0, &event, sizeof event) != sizeof event)
            die("ep0");
        if (event.type == FUNCTIONFS_SETUP)
            setup(&event.u.setup);
    }
}
