/*
 * seqports: lists the ALSA sequencer ports with what aconnect does not show
 * (client type, port capabilities and type, subscriptions), one port a line,
 * fields separated by tabs:
 *
 *   addr  client-type  client-name  port-name  caps  types  from  to  source
 *
 * "from" and "to" are comma-separated addresses of the ports subscribed to this
 * port (senders) and from it (receivers), or "-". "source" is "source" when the
 * port is what the design calls a MIDI source (a keyboard), otherwise "-".
 * Exit status 2 when the sequencer cannot be opened.
 */
#include <alsa/asoundlib.h>
#include <stdio.h>
#include <string.h>

/* Older alsa-lib headers lack these; the values are the kernel's. */
#ifndef SND_SEQ_PORT_CAP_INACTIVE
#define SND_SEQ_PORT_CAP_INACTIVE (1 << 8)
#endif
#ifndef SND_SEQ_PORT_CAP_UMP_ENDPOINT
#define SND_SEQ_PORT_CAP_UMP_ENDPOINT (1 << 9)
#endif

struct flag {
    unsigned int bit;
    const char* name;
};

static const struct flag cap_flags[] = {
    {SND_SEQ_PORT_CAP_READ, "READ"},
    {SND_SEQ_PORT_CAP_WRITE, "WRITE"},
    {SND_SEQ_PORT_CAP_SYNC_READ, "SYNC_READ"},
    {SND_SEQ_PORT_CAP_SYNC_WRITE, "SYNC_WRITE"},
    {SND_SEQ_PORT_CAP_DUPLEX, "DUPLEX"},
    {SND_SEQ_PORT_CAP_SUBS_READ, "SUBS_READ"},
    {SND_SEQ_PORT_CAP_SUBS_WRITE, "SUBS_WRITE"},
    {SND_SEQ_PORT_CAP_NO_EXPORT, "NO_EXPORT"},
    {SND_SEQ_PORT_CAP_INACTIVE, "INACTIVE"},
    {SND_SEQ_PORT_CAP_UMP_ENDPOINT, "UMP_ENDPOINT"},
};

static const struct flag type_flags[] = {
    {SND_SEQ_PORT_TYPE_MIDI_GENERIC, "MIDI_GENERIC"},
    {SND_SEQ_PORT_TYPE_MIDI_GM, "MIDI_GM"},
    {SND_SEQ_PORT_TYPE_MIDI_GS, "MIDI_GS"},
    {SND_SEQ_PORT_TYPE_MIDI_XG, "MIDI_XG"},
    {SND_SEQ_PORT_TYPE_MIDI_MT32, "MIDI_MT32"},
    {SND_SEQ_PORT_TYPE_MIDI_GM2, "MIDI_GM2"},
    {SND_SEQ_PORT_TYPE_SYNTH, "SYNTH"},
    {SND_SEQ_PORT_TYPE_DIRECT_SAMPLE, "DIRECT_SAMPLE"},
    {SND_SEQ_PORT_TYPE_SAMPLE, "SAMPLE"},
    {SND_SEQ_PORT_TYPE_HARDWARE, "HARDWARE"},
    {SND_SEQ_PORT_TYPE_SOFTWARE, "SOFTWARE"},
    {SND_SEQ_PORT_TYPE_SYNTHESIZER, "SYNTHESIZER"},
    {SND_SEQ_PORT_TYPE_PORT, "PORT"},
    {SND_SEQ_PORT_TYPE_APPLICATION, "APPLICATION"},
};

/* Named flags, then any other bits in hexadecimal; "-" for none. */
static void print_flags(const struct flag* flags, size_t n, unsigned int value) {
    int any = 0;
    for (size_t i = 0; i < n; i++) {
        if (value & flags[i].bit) {
            printf("%s%s", any ? "," : "", flags[i].name);
            any = 1;
            value &= ~flags[i].bit;
        }
    }
    if (value) {
        printf("%s0x%x", any ? "," : "", value);
        any = 1;
    }
    if (!any) printf("-");
}

static void print_subs(snd_seq_t* seq, const snd_seq_addr_t* addr, snd_seq_query_subs_type_t type) {
    snd_seq_query_subscribe_t* q;
    snd_seq_query_subscribe_alloca(&q);
    snd_seq_query_subscribe_set_root(q, addr);
    snd_seq_query_subscribe_set_type(q, type);
    snd_seq_query_subscribe_set_index(q, 0);
    int any = 0;
    while (snd_seq_query_port_subscribers(seq, q) >= 0) {
        const snd_seq_addr_t* other = snd_seq_query_subscribe_get_addr(q);
        printf("%s%d:%d", any ? "," : "", other->client, other->port);
        any = 1;
        snd_seq_query_subscribe_set_index(q, snd_seq_query_subscribe_get_index(q) + 1);
    }
    if (!any) printf("-");
}

/* The rule of "What counts as a MIDI source" for the ALSA sequencer. */
static int is_source(int client, int own_client, snd_seq_client_type_t ctype, unsigned int caps,
                     unsigned int type) {
    if (client == SND_SEQ_CLIENT_SYSTEM || client == own_client) return 0;
    if ((caps & (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)) !=
        (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ))
        return 0;
    if (caps &
        (SND_SEQ_PORT_CAP_NO_EXPORT | SND_SEQ_PORT_CAP_INACTIVE | SND_SEQ_PORT_CAP_UMP_ENDPOINT))
        return 0;
    if (!(type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION))) return 0;
    if (ctype == SND_SEQ_KERNEL_CLIENT && !(type & SND_SEQ_PORT_TYPE_HARDWARE)) return 0;
    return 1;
}

int main(void) {
    /* The kernel sequencer directly, with a one-line configuration instead of
     * the system's: parsing that takes long under emulation. */
    snd_config_t* config = NULL;
    snd_input_t* input = NULL;
    static const char conf[] = "seq.hw { type hw }";
    int err = snd_config_top(&config);
    if (err >= 0) err = snd_input_buffer_open(&input, conf, sizeof conf - 1);
    if (err >= 0) err = snd_config_load(config, input);
    if (input) snd_input_close(input);
    snd_seq_t* seq = NULL;
    if (err >= 0) err = snd_seq_open_lconf(&seq, "hw", SND_SEQ_OPEN_DUPLEX, 0, config);
    if (err < 0) {
        fprintf(stderr, "seqports: cannot open the sequencer: %s\n", snd_strerror(err));
        return 2;
    }
    int own = snd_seq_client_id(seq);

    snd_seq_client_info_t* cinfo;
    snd_seq_port_info_t* pinfo;
    snd_seq_client_info_alloca(&cinfo);
    snd_seq_port_info_alloca(&pinfo);
    snd_seq_client_info_set_client(cinfo, -1);
    while (snd_seq_query_next_client(seq, cinfo) >= 0) {
        int client = snd_seq_client_info_get_client(cinfo);
        if (client == own) continue;
        snd_seq_client_type_t ctype = snd_seq_client_info_get_type(cinfo);
        snd_seq_port_info_set_client(pinfo, client);
        snd_seq_port_info_set_port(pinfo, -1);
        while (snd_seq_query_next_port(seq, pinfo) >= 0) {
            const snd_seq_addr_t* addr = snd_seq_port_info_get_addr(pinfo);
            unsigned int caps = snd_seq_port_info_get_capability(pinfo);
            unsigned int type = snd_seq_port_info_get_type(pinfo);
            printf("%d:%d\t%s\t%s\t%s\t", addr->client, addr->port,
                   ctype == SND_SEQ_KERNEL_CLIENT ? "kernel" : "user",
                   snd_seq_client_info_get_name(cinfo), snd_seq_port_info_get_name(pinfo));
            print_flags(cap_flags, sizeof cap_flags / sizeof cap_flags[0], caps);
            printf("\t");
            print_flags(type_flags, sizeof type_flags / sizeof type_flags[0], type);
            printf("\t");
            print_subs(seq, addr, SND_SEQ_QUERY_SUBS_WRITE);
            printf("\t");
            print_subs(seq, addr, SND_SEQ_QUERY_SUBS_READ);
            printf("\t%s\n", is_source(client, own, ctype, caps, type) ? "source" : "-");
        }
    }
    snd_seq_close(seq);
    snd_config_delete(config);
    return 0;
}
