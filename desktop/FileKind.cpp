#include "desktop/FileKind.h"

#include <strings.h>

#include <filesystem>

namespace vaultry {
namespace {

// Each table ends with an empty entry. Order matters only for the position a lookup returns;
// CDR, DCR and TXT stand twice and the first position wins.
constexpr const char* kImages[] = {
    "HEIF", "3DM", "3DMF", "3DS",     "ABM",  "AFX", "AI",   "ANI",  "ART",  "ARW",  "BLD",          "BLEND",
    "BMP",  "BOO", "BR5",  "CDR",     "CDR",  "CDT", "CGM",  "CIFF", "CLP",  "CMX",  "CONT",         "CPT",
    "CR2",  "CRW", "CUR",  "CVX",     "DCM",  "DCR", "DCR",  "DIB",  "DNG",  "DRW",  "DS4",          "DSC",
    "DT2",  "DWF", "DWG",  "EMF",     "EMZ",  "ERF", "FH8",  "FLC",  "FOV",  "FPF",  "FPX",          "FUJI",
    "FXG",  "GIF", "HDP",  "HPI",     "ICNS", "ICO", "IDML", "IFF",  "IMG",  "INX",  "IPX",          "ISD",
    "ITC2", "IV",  "JP2",  "JPEG",    "JPG",  "JPX", "K25",  "KDC",  "LBM",  "MA",   "MAX",          "MB",
    "MDI",  "MDL", "MDX",  "MINO",    "MNG",  "MOS", "MRW",  "MSP",  "NCR",  "NEF",  "OBJ",          "ORF",
    "PAL",  "PAT", "PBM",  "PCS",     "PCT",  "PCX", "PEF",  "PGM",  "PIC",  "PICT", "PICTCLIPPING", "PNG",
    "PPM",  "PSD", "PSP",  "PSPIMGE", "PTX",  "PXN", "QXD",  "RAF",  "RAS",  "RAW",  "RELS",         "RGB",
    "RLE",  "RTD", "SCT",  "SHP",     "SKF",  "SKP", "SR2",  "SRF",  "STP",  "SVG",  "SVGZ",         "TEX",
    "TGA",  "THM", "TIF",  "TIFF",    "VWX",  "WB1", "WBC",  "WBD",  "WBMP", "WBZ",  "WEBP",         "WMF",
    "WP",   "WPG", "X3F",  "XBM",     "XCF",  "XPM", "XPS",  ""};
constexpr const char* kVideos[] = {
    "HEVC",  "3G2",      "3GP", "ANM",       "ASF", "ASX",  "AVI",  "AVS",  "CLK",    "CPI",   "DIVX", "DMSM",
    "DREAM", "DVDMEDIA", "DVM", "DVR-MS",    "DXR", "F4V",  "FBR",  "FLA",  "FLV",    "HDMOV", "M2P",  "M2TS",
    "M4P",   "M4V",      "MKV", "MOD",       "MOI", "MOV",  "MP4",  "MPE",  "MPEG",   "MPG",   "MXF",  "OGM",
    "PSH",   "QT",       "QTM", "RCPROJECT", "RM",  "RMVB", "SCM",  "SMIL", "SMJPEG", "SRT",   "STX",  "SWF",
    "TIX",   "TS",       "VOB", "VRO",       "WMV", "WTV",  "XVID", "YUV",  ""};
constexpr const char* kAudios[] = {
    "AMR", "AUD",  "RAM", "RFL",  "RMI", "RNS", "RPS", "SIB",  "SND", "VPM", "WAV",  "WMA",  "AA3", "AAC",
    "AC3", "AFC",  "AIF", "AIFF", "AM",  "AT3", "AU",  "CAF",  "CDA", "CPF", "DMSA", "DMSE", "DSS", "EMP",
    "EMX", "FLAC", "KPI", "M3D",  "M4A", "M4R", "MID", "MIDI", "MP3", "OGG", "OMF",  "PTF",  ""};
constexpr const char* kDocuments[] = {
    "123", "12M",   "1ST", "3DA",     "3TF",  "3WS", "ABD",  "ADX",  "AMI",  "APP", "C",   "TXT", "CSV",
    "CAS", "CBK",   "CLA", "CLS",     "CLY",  "CPP", "CWK",  "DOC",  "DOCX", "DOT", "EPS", "ETP", "FB2",
    "FM3", "FMT",   "GHO", "H",       "INDT", "JOB", "KEY",  "INDD", "LIT",  "LOG", "LWP", "M",   "MCD",
    "MDZ", "MM",    "MPT", "NUMBERS", "ODP",  "ODS", "ODG",  "ODF",  "ODB",  "ODT", "ONE", "OTP", "PAGES",
    "PDF", "Plist", "PMD", "POT",     "POTX", "PPS", "PPSX", "PPT",  "PPTX", "PRZ", "PS",  "PUB", "PWI",
    "PYC", "PYD",   "QBB", "QDF",     "QSD",  "QXP", "RESX", "RTF",  "SCPT", "SDW", "SDY", "SIG", "SLN",
    "SUO", "SXC",   "SXD", "SXI",     "SXW",  "TOC", "TXT",  "VBP",  "VRD",  "VSD", "VSS", "VST", "WFA",
    "WK1", "WK3",   "WK4", "WP6",     "WPD",  "WPS", "WRI",  "XLS",  "XLSX", "XLT", ""};
constexpr const char* kArchives[] = {"7Z",  "ACE", "ALZ", "ARC", "ARJ",     "BZ",  "Bzip", "CAB",  "DBS",
                                     "DEB", "DMG", "GZ",  "JAR", "KRYPTER", "LZA", "LZH",  "MSI",  "PF",
                                     "PKG", "PUP", "RAR", "RPM", "SEA",     "SFX", "SIT",  "SITX", "SOR",
                                     "TAR", "TGZ", "WAR", "ZIP", "ZIPX",    "ZOO", ""};

static_assert(std::size(kImages) == 140 && std::size(kVideos) == 57 && std::size(kAudios) == 41 &&
              std::size(kDocuments) == 102 && std::size(kArchives) == 34);

std::int32_t lookup(const char* const* table, const char* ext) {
    if (!ext) return -1;
    for (std::int32_t i = 0; *table[i]; ++i)
        if (strcasecmp(table[i], ext) == 0) return i;
    return -1;
}

}  // namespace

std::int32_t GetImageType(const char* ext) { return lookup(kImages, ext); }
std::int32_t GetViedoType(const char* ext) { return lookup(kVideos, ext); }
std::int32_t GetAudioType(const char* ext) { return lookup(kAudios, ext); }
std::int32_t GetDocumentType(const char* ext) { return lookup(kDocuments, ext); }
std::int32_t GetArchiveType(const char* ext) { return lookup(kArchives, ext); }

std::string pathExtension(std::string_view path) {
    std::filesystem::path p{std::string(path)};
    if (!p.has_filename()) p = p.parent_path();  // "a/b.d/" names b.d
    std::string ext = p.extension().string();
    return ext.empty() ? ext : ext.substr(1);
}

const char* desktopKind(const std::string& path) {
    const std::string ext = pathExtension(path);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return ext == "rtfd" ? kind::Documents : kind::Folder;
    if (GetImageType(ext.c_str()) >= 0) return kind::Pictures;
    if (GetArchiveType(ext.c_str()) >= 0) return kind::Archives;
    if (GetDocumentType(ext.c_str()) >= 0) return kind::Documents;
    return kind::Other;
}

}  // namespace vaultry
