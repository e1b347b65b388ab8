// Writes the seed corpus of the fuzz targets: valid files of every shape the
// reader accepts, the broken shapes the tests use, name samples, and whole
// folders in the run target's input layout. Usage: make_fuzz_corpus DIR
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "wav_builder.h"

namespace {

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
  for (const char* sub : {"", "/wav_reader", "/run", "/names"}) mkdir((root + sub).c_str(), 0777);

  const std::vector<Bytes> wavs = wav_seeds();
  for (std::size_t i = 0; i < wavs.size(); ++i) write(root + "/wav_reader", static_cast<int>(i), wavs[i]);

  const char* names[] = {"/k/Piano Chord,Ebmin7.wav", "/k/Piano Chord,-2,C#dom9.wav",
                         "/k/Pad ChordSemitones,2,4,7,11.wav", "/k/Keys ChromaticMultiSample,5.wav",
                         "/kits/drums PO-33.25", "/kits/drums PO-33.5/", " Chord,", "a. Chord,Cmaj",
                         "/k.v2/Piano Chord,Dmaj", "/k/Kick Oneshot.wav", "/k/Pad Loop 2.wav"};
  int n = 0;
  for (const char* name : names) write(root + "/names", n++, Bytes(name, name + std::string(name).size()));

  // Folders for the run target: mode byte, digits byte, file count, then per
  // file two fragment bytes, a 2-byte length and the file.
  n = 0;
  for (int mode : {0, 5, 6, 9}) {
    for (int count : {0, 2}) {
      Bytes input = {static_cast<std::uint8_t>(mode), 8, static_cast<std::uint8_t>(count)};
      for (int f = 0; f <= count; ++f) {
        const Bytes& wav = wavs[static_cast<std::size_t>(f * 7 + mode) % wavs.size()];
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
