// Writes the seed corpus of the fuzz targets: valid WAV and AIFF files of
// every shape the readers accept, broken and refused shapes, name samples,
// packs with --set texts, and whole folders in the run target's input
// layout. Usage: make_fuzz_corpus DIR
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device_packs.h"
#include "wav_builder.h"

namespace {

using kitweaver::wav::AiffShape;
using kitweaver::wav::Bytes;
using kitweaver::wav::WavShape;

Bytes tone(std::size_t bytes) {
  Bytes out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>((i * 37) ^ (i >> 3));
  return out;
}

std::vector<Bytes> wav_seeds() {
  std::vector<Bytes> seeds;
  for (int channels : {1, 2, 3}) {
    for (int bits : {8, 16, 24, 32}) {
      for (std::uint32_t rate : {8000u, 44100u, 96000u}) {
        WavShape shape;
        shape.channels = static_cast<std::uint16_t>(channels);
        shape.bits_per_sample = static_cast<std::uint16_t>(bits);
        shape.sample_rate = rate;
        shape.data = tone(static_cast<std::size_t>(channels * bits / 8 * 300));
        seeds.push_back(kitweaver::wav::wav_bytes(shape));
      }
    }
  }
  WavShape shaped;
  shaped.data = tone(400);
  shaped.list_before_data = true;
  seeds.push_back(kitweaver::wav::wav_bytes(shaped));
  shaped.list_before_data = false;
  shaped.fmt_size = 18;
  seeds.push_back(kitweaver::wav::wav_bytes(shaped));
  shaped.fmt_size = 40;
  shaped.format_tag = 0xFFFE;
  seeds.push_back(kitweaver::wav::wav_bytes(shaped));
  shaped.pcm_sub_format = false;
  seeds.push_back(kitweaver::wav::wav_bytes(shaped));
  WavShape broken;
  broken.data = tone(100);
  broken.format_tag = 3;
  seeds.push_back(kitweaver::wav::wav_bytes(broken));
  broken.format_tag = 1;
  broken.declare_data_size = true;
  broken.declared_data_size = 0x7FFFFFFF;
  seeds.push_back(kitweaver::wav::wav_bytes(broken));
  broken.declared_data_size = 0x80000000u;
  seeds.push_back(kitweaver::wav::wav_bytes(broken));
  Bytes truncated = seeds.front();
  truncated.resize(40);
  seeds.push_back(truncated);
  return seeds;
}

// Float WAV: tag 3 of 32 and 64 bits, and the extensible float sub-format;
// AIFF of every depth and AIFC of every type, chunks in both orders; a cut
// sound and a drum pack.
std::vector<Bytes> float_and_aiff_seeds() {
  std::vector<Bytes> seeds;
  for (int bits : {32, 64}) {
    WavShape floating;
    floating.format_tag = 3;
    floating.bits_per_sample = static_cast<std::uint16_t>(bits);
    floating.channels = bits == 32 ? 1 : 2;
    floating.data = tone(static_cast<std::size_t>(bits / 8 * floating.channels * 200));
    seeds.push_back(kitweaver::wav::wav_bytes(floating));
    floating.format_tag = 0xFFFE;
    floating.fmt_size = 40;
    floating.pcm_sub_format = false;
    seeds.push_back(kitweaver::wav::wav_bytes(floating));
  }
  for (int channels : {1, 2, 3}) {
    for (int bits : {8, 12, 16, 24, 32}) {
      AiffShape aiff;
      aiff.channels = static_cast<std::uint16_t>(channels);
      aiff.bits = static_cast<std::uint16_t>(bits);
      aiff.sample_rate = channels == 2 ? 22050.5 : 44100;
      aiff.sound_first = channels == 3;
      aiff.data = tone(static_cast<std::size_t>(channels * ((bits + 7) / 8) * 300));
      seeds.push_back(kitweaver::wav::aiff_bytes(aiff));
    }
  }
  for (const char* type : {"NONE", "twos", "sowt", "fl32", "fl64", "ulaw", "ima4"}) {
    AiffShape aifc;
    aifc.aifc = true;
    aifc.compression = type;
    aifc.channels = 2;
    aifc.bits = type[0] == 'f' ? 32 : 16;
    aifc.ssnd_offset = 6;
    aifc.extra.push_back(kitweaver::wav::aiff_chunk("ANNO", {'o', 'd', 'd'}));
    aifc.data = tone(type[2] == '6' ? 3200 : 1600);
    seeds.push_back(kitweaver::wav::aiff_bytes(aifc));
  }
  AiffShape cut;
  cut.frames = 100000;  // far more than the sound holds
  cut.data = tone(900);
  Bytes cut_bytes = kitweaver::wav::aiff_bytes(cut);
  cut_bytes.resize(cut_bytes.size() - 100);
  seeds.push_back(cut_bytes);
  AiffShape drum = cut;
  const std::string text = "op-1{ \"type\" : \"drum\", \"pitch\" : [ 0 ] }";
  drum.extra.push_back(kitweaver::wav::aiff_chunk("APPL", Bytes(text.begin(), text.end())));
  seeds.push_back(kitweaver::wav::aiff_bytes(drum));
  return seeds;
}

// A small drum pack: `frames` frames of sound and every key on a slice of
// it, and an input for the key-edit target: the --set text's length, the
// text, then the pack.
Bytes pack_seed(std::uint32_t frames, const std::string& set, bool odd_layout) {
  auto be32 = [](Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  auto list = [](const char* name, auto value) {
    std::string text = std::string("\"") + name + "\" : [ ";
    for (int k = 0; k < 24; ++k) text += (k > 0 ? ", " : "") + std::to_string(value(k));
    return text + " ]";
  };
  const std::uint32_t slice = frames / 24;
  std::string text = "op-1{ \"drum_version\" : 3, " +
                     list("end", [&](int k) { return static_cast<std::int64_t>(slice * k + slice - 1) * 4056; }) +
                     ", \"name\" : \"user99\", " + list("pitch", [](int k) { return (k % 5 - 2) * 512; }) + ", " +
                     list("playmode", [](int k) { return k % 3 == 0 ? 20480 : 8192; }) + ", " +
                     list("reverse", [](int k) { return k % 2 == 0 ? 8192 : 24576; }) + ", " +
                     list("start", [&](int k) { return static_cast<std::int64_t>(slice * k) * 4056; }) +
                     (odd_layout ? ", \"x\" : { \"pitch\" : [ \"]\" ] } }" : " }");
  if (odd_layout) {
    text += '\0';
  } else {
    while (text.size() % 4 != 0) text += ' ';
  }
  Bytes chunks;
  for (const char* id : {"COMM", "APPL", "SSND"}) {
    Bytes body;
    if (id[0] == 'C') {
      body = {0, 1};
      be32(body, frames);
      for (int b : {0, 16, 0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}) body.push_back(static_cast<std::uint8_t>(b));
    } else if (id[0] == 'A') {
      body.assign(text.begin(), text.end());
    } else {
      body.assign(8, 0);
      for (std::uint32_t i = 0; i < frames; ++i) {
        body.push_back(static_cast<std::uint8_t>(i));
        body.push_back(static_cast<std::uint8_t>(i * 7));
      }
    }
    chunks.insert(chunks.end(), id, id + 4);
    be32(chunks, static_cast<std::uint32_t>(body.size()));
    chunks.insert(chunks.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) chunks.push_back(0);
  }
  Bytes input = {static_cast<std::uint8_t>(set.size())};
  input.insert(input.end(), set.begin(), set.end());
  for (char c : std::string("FORM")) input.push_back(static_cast<std::uint8_t>(c));
  be32(input, static_cast<std::uint32_t>(chunks.size() + 4));
  for (char c : std::string("AIFF")) input.push_back(static_cast<std::uint8_t>(c));
  input.insert(input.end(), chunks.begin(), chunks.end());
  return input;
}

void write(const std::string& dir, int index, const Bytes& bytes) {
  kitweaver::wav::write_file(dir + "/seed" + std::to_string(index), bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub : {"", "/wav_reader", "/run", "/names", "/key_edit"}) mkdir((root + sub).c_str(), 0777);

  const std::vector<Bytes> wavs = wav_seeds();
  const std::vector<Bytes> others = float_and_aiff_seeds();
  int n = 0;
  for (const std::vector<Bytes>* seeds : {&wavs, &others}) {
    for (const Bytes& seed : *seeds) write(root + "/wav_reader", n++, seed);
  }

  const char* names[] = {"/k/Piano Chord,Ebmin7.wav", "/k/Piano Chord,-2,C#dom9.wav",
                         "/k/Pad ChordSemitones,2,4,7,11.wav", "/k/Keys ChromaticMultiSample,5.wav",
                         "/kits/drums PO-33.25", "/kits/drums PO-33.5/", " Chord,", "a. Chord,Cmaj",
                         "/k.v2/Piano Chord,Dmaj", "/k/Kick Oneshot.wav", "/k/Pad Loop 2.wav"};
  n = 0;
  for (const char* name : names) write(root + "/names", n++, Bytes(name, name + std::string(name).size()));

  n = 0;
  for (const char* set : {"3:pitch=+2.5,direction=reversed", "all:mode=loop", "0-5:start=10,end=20.5", "7:end=47"}) {
    for (bool odd : {false, true}) write(root + "/key_edit", n++, pack_seed(240, set, odd));
  }
  Bytes cut_pack = pack_seed(240, "2:pitch=1", false);
  cut_pack.resize(cut_pack.size() - 101);  // the sound runs past the end of the file
  write(root + "/key_edit", n++, cut_pack);
  // The packs of the devices and other tools, with a few hundred frames of
  // their sound.
  for (kitweaver::testing::DevicePack shape : kitweaver::testing::device_packs()) {
    shape.frames = 300;
    const std::string set = "1:start=7,pitch=-1";
    Bytes input = {static_cast<std::uint8_t>(set.size())};
    input.insert(input.end(), set.begin(), set.end());
    const Bytes pack = kitweaver::testing::device_pack_bytes(shape, shape.lists);
    input.insert(input.end(), pack.begin(), pack.end());
    write(root + "/key_edit", n++, input);
  }

  // Folders for the run target: mode byte, digits byte, file count, then per
  // file two fragment bytes, a 2-byte length and the file.
  n = 0;
  for (int mode : {0, 5, 6, 9, 16, 21, 32, 48}) {
    // The modes with --hq take float and AIFF recordings.
    const std::vector<Bytes>& seeds = (mode & 16) == 0 ? wavs : others;
    for (int count : {0, 2}) {
      Bytes input = {static_cast<std::uint8_t>(mode), 8, static_cast<std::uint8_t>(count)};
      for (int f = 0; f <= count; ++f) {
        const Bytes& wav = seeds[static_cast<std::size_t>(f * 7 + mode) % seeds.size()];
        input.push_back(static_cast<std::uint8_t>(f * 0x31));
        input.push_back(static_cast<std::uint8_t>(f * 0x17 & 0x7F));
        input.push_back(static_cast<std::uint8_t>(wav.size() & 0xFF));
        input.push_back(static_cast<std::uint8_t>(wav.size() >> 8));
        input.insert(input.end(), wav.begin(), wav.end());
      }
      write(root + "/run", n++, input);
    }
  }
  return 0;
}
