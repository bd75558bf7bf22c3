// Throughput of the erasure coder in MB/s of source data, with Intel ISA-L
// coding the same shapes with the same coefficients as the yardstick.
//   fec_bench [--benchmark_filter=...]
// Names: <Shape>/<coder>, coder = ours (dispatched kernel), ours_<kernel>
// (forced), isal.
#include <benchmark/benchmark.h>
#include <isa-l/erasure_code.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fec/FEC.h"
#include "fec/FECVarSize.h"
#include "fec/GfKernel.h"

namespace {

using fec::KernelLevel;

// k data blocks, room for parity blocks, and the code's matrix read out by
// encoding unit blocks.
struct Shape {
  Shape(int k, int nParity, std::size_t len) : k(k), nParity(nParity), len(len) {
    std::mt19937 rng(1);
    data.resize(k);
    for (auto& b : data) {
      b.resize(len);
      for (BYTE& x : b) x = static_cast<BYTE>(rng());
    }
    parity.assign(nParity, std::vector<BYTE>(len));
    out.assign(k, std::vector<BYTE>(len));
    for (int i = 0; i < k; ++i) dataPtrs.push_back(data[i].data());
    for (int i = 0; i < nParity; ++i) parityPtrs.push_back(parity[i].data());
    for (int i = 0; i < k; ++i) outPtrs.push_back(out[i].data());
    fec.Init(k, 256);
    std::vector<std::vector<BYTE>> unit(k, std::vector<BYTE>(k, 0));
    std::vector<BYTE*> unitPtrs(k);
    for (int j = 0; j < k; ++j) {
      unit[j][j] = 1;
      unitPtrs[j] = unit[j].data();
    }
    matrix.resize(static_cast<std::size_t>(256) * k);
    for (int i = 0; i < 256; ++i) fec.Encode(unitPtrs.data(), k, &matrix[i * k], i);
    isalTables.resize(static_cast<std::size_t>(32) * k * nParity);
    ec_init_tables(k, nParity, &matrix[static_cast<std::size_t>(k) * k], isalTables.data());
  }
  std::size_t SourceBytes() const { return static_cast<std::size_t>(k) * len; }

  int k, nParity;
  std::size_t len;
  std::vector<std::vector<BYTE>> data, parity, out;
  std::vector<BYTE*> dataPtrs, parityPtrs, outPtrs;
  CFEC fec;
  std::vector<BYTE> matrix;  // 256 rows of k
  std::vector<BYTE> isalTables;
};

void Report(benchmark::State& state, std::size_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
}

// Runs the body with the kernel named by the benchmark's argument forced
// (-1: the dispatcher's own choice).
bool UseKernel(benchmark::State& state) {
  fec::ResetKernel();
  if (state.range(0) < 0) return true;
  if (!fec::ForceKernel(static_cast<KernelLevel>(state.range(0)))) {
    state.SkipWithError("kernel not supported");
    return false;
  }
  return true;
}

// Encodes parities k..k+nParity-1 with CFEC.
void OursEncode(benchmark::State& state, int k, int nParity, std::size_t len) {
  if (!UseKernel(state)) return;
  Shape s(k, nParity, len);
  for (auto _ : state) {
    for (int p = 0; p < nParity; ++p) s.fec.Encode(s.dataPtrs.data(), static_cast<int>(len), s.parityPtrs[p], k + p);
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

// The same parities in one pass of the multi-output kernel, as ISA-L does.
void KernelEncode(benchmark::State& state, int k, int nParity, std::size_t len) {
  if (!UseKernel(state)) return;
  Shape s(k, nParity, len);
  std::vector<const BYTE*> srcs(s.dataPtrs.begin(), s.dataPtrs.end());
  const BYTE* rows = &s.matrix[static_cast<std::size_t>(k) * k];
  for (auto _ : state) {
    fec::DotProduct(s.parityPtrs.data(), nParity, srcs.data(), rows, k, len);
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

void IsalEncode(benchmark::State& state, int k, int nParity, std::size_t len) {
  Shape s(k, nParity, len);
  for (auto _ : state) {
    ec_encode_data(static_cast<int>(len), k, nParity, s.isalTables.data(), s.dataPtrs.data(), s.parityPtrs.data());
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

// Korin's shape: CFECVarSize over k packets of one length.
void OursVarEncode(benchmark::State& state, int k, int nParity, std::size_t len) {
  if (!UseKernel(state)) return;
  Shape s(k, nParity, len);
  CFECVarSize var;
  var.Init(k, static_cast<int>(len));
  std::vector<int> lens(k, static_cast<int>(len));
  for (auto _ : state) {
    for (int p = 0; p < nParity; ++p) {
      int outLen = 0, word = 0;
      var.Encode(s.dataPtrs.data(), lens.data(), s.parityPtrs[p], static_cast<int>(len), &outLen,
                 reinterpret_cast<BYTE*>(&word), k + p);
    }
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

// Every data block lost: decode from the k parity blocks k..2k-1.
void OursDecode(benchmark::State& state, int k, std::size_t len) {
  if (!UseKernel(state)) return;
  Shape s(k, k, len);
  std::vector<int> index(k);
  std::vector<BYTE*> pkt(k);
  for (auto _ : state) {
    for (int i = 0; i < k; ++i) {
      index[i] = k + i;
      pkt[i] = s.parityPtrs[i];
    }
    s.fec.Decode(pkt.data(), index.data(), static_cast<int>(len), s.outPtrs.data());
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

// The inverse of the k parity rows k..2k-1, by ISA-L.
std::vector<BYTE> ParityInverse(const Shape& s) {
  std::vector<BYTE> rows(s.matrix.begin() + s.k * s.k, s.matrix.begin() + 2 * s.k * s.k);
  std::vector<BYTE> inv(rows.size());
  gf_invert_matrix(rows.data(), inv.data(), s.k);
  return inv;
}

// The decode's block work alone, with the inverse already known.
void OursDecodeNoInvert(benchmark::State& state, int k, std::size_t len) {
  if (!UseKernel(state)) return;
  Shape s(k, k, len);
  const std::vector<BYTE> inv = ParityInverse(s);
  std::vector<const BYTE*> srcs(s.parityPtrs.begin(), s.parityPtrs.end());
  for (auto _ : state) {
    fec::DotProduct(s.outPtrs.data(), k, srcs.data(), inv.data(), k, len);
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

void IsalDecode(benchmark::State& state, int k, std::size_t len, bool invert) {
  Shape s(k, k, len);
  std::vector<BYTE> tables(static_cast<std::size_t>(32) * k * k);
  ec_init_tables(k, k, ParityInverse(s).data(), tables.data());
  std::vector<BYTE> rows(static_cast<std::size_t>(k) * k), inv(rows.size());
  for (auto _ : state) {
    if (invert) {
      std::memcpy(rows.data(), &s.matrix[static_cast<std::size_t>(k) * k], rows.size());
      gf_invert_matrix(rows.data(), inv.data(), k);
      ec_init_tables(k, k, inv.data(), tables.data());
    }
    ec_encode_data(static_cast<int>(len), k, k, tables.data(), s.parityPtrs.data(), s.outPtrs.data());
    benchmark::ClobberMemory();
  }
  Report(state, s.SourceBytes());
}

// Streaming: one parity per group of 16 blocks of 1 KiB, through a source far
// larger than the caches.
constexpr std::size_t kStreamBytes = std::size_t{256} << 20;
constexpr int kStreamK = 16;
constexpr std::size_t kStreamBlock = 1024;

std::vector<BYTE>& StreamSource() {
  static std::vector<BYTE> buf = [] {
    std::vector<BYTE> b(kStreamBytes);
    std::mt19937_64 rng(9);
    for (std::size_t i = 0; i < b.size(); i += 8) {
      const std::uint64_t v = rng();
      std::memcpy(&b[i], &v, 8);
    }
    return b;
  }();
  return buf;
}

template <typename EncodeGroup>
void Stream(benchmark::State& state, EncodeGroup encode) {
  std::vector<BYTE>& src = StreamSource();
  const std::size_t groupBytes = kStreamK * kStreamBlock;
  const std::size_t groups = src.size() / groupBytes;
  std::vector<BYTE> parity(groups * kStreamBlock);
  BYTE* ptrs[kStreamK];
  for (auto _ : state) {
    for (std::size_t g = 0; g < groups; ++g) {
      for (int i = 0; i < kStreamK; ++i) ptrs[i] = &src[g * groupBytes + i * kStreamBlock];
      encode(ptrs, &parity[g * kStreamBlock]);
    }
    benchmark::ClobberMemory();
  }
  Report(state, groups * groupBytes);
}

void OursStream(benchmark::State& state) {
  if (!UseKernel(state)) return;
  Shape s(kStreamK, 1, 0);
  Stream(state, [&](BYTE** ptrs, BYTE* dst) { s.fec.Encode(ptrs, kStreamBlock, dst, kStreamK); });
}

void IsalStream(benchmark::State& state) {
  Shape s(kStreamK, 1, 0);
  Stream(state, [&](BYTE** ptrs, BYTE* dst) {
    ec_encode_data(kStreamBlock, kStreamK, 1, s.isalTables.data(), ptrs, &dst);
  });
}

// The memory bound: reading the same source once, XOR-folding it.
void ReadBound(benchmark::State& state) {
  std::vector<BYTE>& src = StreamSource();
  for (auto _ : state) {
    std::uint64_t acc[8] = {};
    const std::uint64_t* p = reinterpret_cast<const std::uint64_t*>(src.data());
    for (std::size_t i = 0; i < src.size() / 8; i += 8) {
      for (int j = 0; j < 8; ++j) acc[j] ^= p[i + j];
    }
    benchmark::DoNotOptimize(acc);
  }
  Report(state, src.size());
}

void AddKernels(benchmark::internal::Benchmark* b) {
  b->ArgName("kernel")->Arg(-1);
  for (int level = 0; level < fec::kKernelLevelCount; ++level) b->Arg(level);
}

void RegisterAll() {
  struct EncodeShape {
    const char* name;
    int k, nParity;
    std::size_t len;
  };
  const EncodeShape encodes[] = {{"Encode1of16x1024", 16, 1, 1024}, {"Encode16of16x1024", 16, 16, 1024}};
  for (const EncodeShape& e : encodes) {
    benchmark::RegisterBenchmark((std::string(e.name) + "/ours").c_str(),
                                 [e](benchmark::State& st) { OursEncode(st, e.k, e.nParity, e.len); })
        ->Apply(AddKernels);
    if (e.nParity > 1) {
      benchmark::RegisterBenchmark((std::string(e.name) + "/ours_kernel").c_str(),
                                   [e](benchmark::State& st) { KernelEncode(st, e.k, e.nParity, e.len); })
          ->ArgName("kernel")
          ->Arg(-1);
    }
    benchmark::RegisterBenchmark((std::string(e.name) + "/isal").c_str(),
                                 [e](benchmark::State& st) { IsalEncode(st, e.k, e.nParity, e.len); });
  }
  benchmark::RegisterBenchmark("Encode4of4x1441/ours_varsize",
                               [](benchmark::State& st) { OursVarEncode(st, 4, 4, 1441); })
      ->Apply(AddKernels);
  benchmark::RegisterBenchmark("Encode4of4x1441/ours",
                               [](benchmark::State& st) { OursEncode(st, 4, 4, 1441); })
      ->ArgName("kernel")
      ->Arg(-1);
  benchmark::RegisterBenchmark("Encode4of4x1441/ours_kernel",
                               [](benchmark::State& st) { KernelEncode(st, 4, 4, 1441); })
      ->ArgName("kernel")
      ->Arg(-1);
  benchmark::RegisterBenchmark("Encode4of4x1441/isal",
                               [](benchmark::State& st) { IsalEncode(st, 4, 4, 1441); });
  benchmark::RegisterBenchmark("Decode16Lost16x1024/ours",
                               [](benchmark::State& st) { OursDecode(st, 16, 1024); })
      ->Apply(AddKernels);
  benchmark::RegisterBenchmark("Decode16Lost16x1024/isal",
                               [](benchmark::State& st) { IsalDecode(st, 16, 1024, true); });
  benchmark::RegisterBenchmark("Decode16Lost16x1024NoInvert/ours",
                               [](benchmark::State& st) { OursDecodeNoInvert(st, 16, 1024); })
      ->Apply(AddKernels);
  benchmark::RegisterBenchmark("Decode16Lost16x1024NoInvert/isal",
                               [](benchmark::State& st) { IsalDecode(st, 16, 1024, false); });
  benchmark::RegisterBenchmark("Stream1of16x1024/ours", OursStream)->ArgName("kernel")->Arg(-1)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Stream1of16x1024/isal", IsalStream)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Stream1of16x1024/read_bound", ReadBound)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
