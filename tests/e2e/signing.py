"""Authenticode-signed copies of fixture programs, made at test time.

A throw-away test PKI (made with the openssl CLI) and osslsigncode sign copies
of any executable as one of these kinds:

  unsigned      a plain copy
  tessarin      signed by "Tessarin, Inc" (subject O=Tessarin, Inc, CN=Tessarin, Inc)
  other         signed by "Other Publisher Ltd"
  intermediate  signed by "Mallory Software", whose issuing intermediate CA
                ("Tessarin, Inc Intermediate") is carried in the signature
  bag_attack    signed by "Other Publisher Ltd", with a copy of the real
                Tessarin certificate added to the signature's certificates
  modified      signed by "Tessarin, Inc", then one byte of code changed
  twin          signed by "Other Publisher Ltd", with a forged twin of its
                certificate in the signature: same issuer name, serial
                number and key, subject "Tessarin, Inc.", made under a fake
                root of the same name; the twin comes after the signer's
  twin_first    the same, with the twin first in the signature
  lookalike     signed by "Tessarin, Incubator Ltd" (validly issued)
  split         signed by a certificate whose subject holds "Tessarin" and
                "Inc" in two attributes (O=Tessarin, OU=Inc)
  self_signed   signed by a self-signed certificate named "Tessarin, Inc"
  foreign_root  signed by "Tessarin, Inc", issued by a root of its own name
                ("Mallory Root CA") that no test installs
  fake_root     signed by "Tessarin, Inc", issued by a root that bears the
                test root's name but has another key
  tls_signer    signed by "Tessarin, Inc" under the test root, with a
                certificate whose extended key usage is TLS servers only
  non_ca_issuer signed by "Tessarin, Inc", issued by "Other Publisher Ltd"
                (a validly issued certificate that is not a CA), which the
                signature carries

Only the standard library, `openssl` and `osslsigncode` are used. Keys live
in the folder given to SigningKit (a per-session temporary folder in the
tests), never in the repository.

From a shell:  python3 tests/e2e/signing.py <kind> <in.exe> <out.exe> [--dir D]
"""

import argparse
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

# kind -> (the signing identity, the certificates the signature carries too)
_SIGNED_AS = {
    "tessarin": ("tessarin", ()), "other": ("other", ()),
    "intermediate": ("mallory", ("intermediate",)), "bag_attack": ("other", ("tessarin",)),
    "modified": ("tessarin", ()), "twin": ("other", ()), "twin_first": ("other", ()),
    "lookalike": ("lookalike", ()), "split": ("split", ()), "self_signed": ("self_signed", ()),
    "foreign_root": ("foreign_signer", ("foreign_root",)),
    "fake_root": ("fake_signer", ("fake_root",)), "non_ca_issuer": ("non_ca_signer", ("other",)),
    "tls_signer": ("tls_signer", ()),
}
KINDS = ("unsigned", *_SIGNED_AS)

PUBLISHER = "Tessarin, Inc"

# name -> (subject for `openssl -subj`, issuer name, serial, extensions: "ca",
# "signer" or "tls")
_IDENTITIES = {
    "root": ("/CN=TsDLM Test Root CA/O=TsDLM Test PKI", None, 1, "ca"),
    "tessarin": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", "root", 0x1001, "signer"),
    "other": ("/O=Other Publisher Ltd/CN=Other Publisher Ltd", "root", 0x1002, "signer"),
    "intermediate": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc Intermediate", "root",
                     0x1003, "ca"),
    "mallory": ("/O=Mallory Software/CN=Mallory Software", "intermediate", 0x2001,
                "signer"),
    "lookalike": (r"/O=Tessarin\, Incubator Ltd/CN=Tessarin\, Incubator Ltd", "root",
                  0x1004, "signer"),
    "split": ("/O=Tessarin/OU=Inc", "root", 0x1005, "signer"),
    # Never installed: a self-signed "Tessarin, Inc", a root of another
    # name, and a root under the test root's name with a key of its own.
    "self_signed": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", None, 0x3001, "signer"),
    "foreign_root": ("/CN=Mallory Root CA/O=Mallory", None, 7, "ca"),
    "foreign_signer": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", "foreign_root", 0x3002,
                       "signer"),
    "fake_root": ("/CN=TsDLM Test Root CA/O=TsDLM Test PKI", None, 1, "ca"),
    "fake_signer": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", "fake_root", 0x1001, "signer"),
    "non_ca_signer": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", "other", 0x3003, "signer"),
    "tls_signer": (r"/O=Tessarin\, Inc/CN=Tessarin\, Inc", "root", 0x3004, "tls"),
}

# The forged twin of "other": another root key under the real root's name
# (fake_root) issues a certificate for other's key, with other's serial number.
_TWIN_SUBJECT = r"/O=Tessarin\, Inc./CN=Tessarin\, Inc."

_CA_EXTENSIONS = """basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
"""
_SIGNER_EXTENSIONS = """basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""
_EXTENSIONS = {"ca": _CA_EXTENSIONS, "signer": _SIGNER_EXTENSIONS,
               "tls": _SIGNER_EXTENSIONS.replace("codeSigning", "serverAuth")}


class SigningError(RuntimeError):
    pass


def _run(command, what):
    result = subprocess.run([str(c) for c in command], capture_output=True)
    if result.returncode != 0:
        raise SigningError(f"{what} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace')}")
    return result


class SigningKit:
    """The test PKI in `folder`, made on first use and reused after."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self._made = False

    def cert(self, name):
        return self.folder / f"{name}.pem"

    def key(self, name):
        return self.folder / f"{name}.key"

    @property
    def root_der(self):
        """The root certificate in DER form (what a Root store accepts)."""
        self.make()
        return self.folder / "root.der"

    def make(self):
        if self._made and (self.folder / "ready").exists():
            return self
        self.folder.mkdir(parents=True, exist_ok=True)
        if not (self.folder / "ready").exists():
            for name in _IDENTITIES:  # issuers come before what they issue
                self._make_identity(name)
            self._make_twin()
            _run(["openssl", "x509", "-in", self.cert("root"), "-outform", "DER",
                  "-out", self.folder / "root.der"], "root DER export")
            (self.folder / "ready").write_text("ok\n")
        self._made = True
        return self

    def _make_identity(self, name):
        subject, issuer, serial, kind = _IDENTITIES[name]
        extensions = self.folder / f"{name}.ext"
        extensions.write_text(_EXTENSIONS[kind])
        if issuer is None:
            _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                  "-keyout", self.key(name), "-out", self.cert(name), "-days", "3650",
                  "-subj", subject, "-set_serial", str(serial),
                  "-addext", "basicConstraints=critical,CA:TRUE",
                  "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
                 f"certificate {name}")
            return
        request = self.folder / f"{name}.csr"
        _run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes",
              "-keyout", self.key(name), "-out", request, "-subj", subject],
             f"request {name}")
        _run(["openssl", "x509", "-req", "-in", request, "-CA", self.cert(issuer),
              "-CAkey", self.key(issuer), "-set_serial", str(serial), "-days", "1825",
              "-sha256", "-extfile", extensions, "-out", self.cert(name)],
             f"certificate {name}")

    def _make_twin(self):
        request = self.folder / "twin.csr"
        _run(["openssl", "req", "-new", "-key", self.key("other"), "-out", request,
              "-subj", _TWIN_SUBJECT], "twin request")
        extensions = self.folder / "twin.ext"
        extensions.write_text(_SIGNER_EXTENSIONS)
        _run(["openssl", "x509", "-req", "-in", request, "-CA", self.cert("fake_root"),
              "-CAkey", self.key("fake_root"),
              "-set_serial", str(_IDENTITIES["other"][2]), "-days", "1825", "-sha256",
              "-extfile", extensions, "-out", self.cert("twin")], "twin certificate")
        (self.folder / "twins.pem").write_text(
            self.cert("other").read_text() + self.cert("twin").read_text())

    def sign_detached(self, data, name="tessarin", chain=(), attached=False):
        """A detached CMS signature (DER, SHA-256) of `data` by identity
        `name`, carrying the certificates of `chain` as well (with
        `attached`, the signature carries `data` itself)."""
        self.make()
        with tempfile.TemporaryDirectory() as folder:
            content = Path(folder) / "content"
            content.write_bytes(data)
            extra = []
            if chain:
                bundle = Path(folder) / "chain.pem"
                bundle.write_text("".join(self.cert(c).read_text() for c in chain))
                extra = ["-certfile", bundle]
            return _run(["openssl", "cms", "-sign", "-binary", "-outform", "DER", "-md",
                         "sha256", "-nosmimecap", "-in", content, "-signer", self.cert(name),
                         "-inkey", self.key(name), *extra,
                         *(["-nodetach"] if attached else [])], "detached signature").stdout

    def der(self, name):
        return _run(["openssl", "x509", "-in", self.cert(name), "-outform", "DER"],
                    f"DER of {name}").stdout

    def _order_bag(self, path, first, second):
        """Puts certificate `first` before `second` in the signature's bag.
        The bag is a DER SET, which the signing tool sorts; the two are
        swapped in place (same length). Neither the bag nor the certificate
        table is covered by the file's hash or the signature."""
        data = bytearray(Path(path).read_bytes())
        a, b = self.der(first), self.der(second)
        at_a, at_b = data.find(a), data.find(b)
        if at_a < 0 or at_b < 0:
            raise SigningError("certificates not found in the signed file")
        if at_a < at_b:
            return
        if at_a != at_b + len(b):
            raise SigningError("the two certificates are not next to each other")
        data[at_b:at_a + len(a)] = a + b
        Path(path).write_bytes(bytes(data))

    def _osslsign(self, source, target, signer, extra_certs=(), certs=None):
        command = ["osslsigncode", "sign", "-certs", certs or self.cert(signer),
                   "-key", self.key(signer), "-h", "sha256",
                   "-n", "TsDLM test installer", "-in", source, "-out", target]
        for extra in extra_certs:
            command += ["-ac", self.cert(extra)]
        _run(command, f"signing as {signer}")

    def sign(self, exe, kind, out):
        """Writes a copy of `exe` to `out` made into `kind`; returns `out`."""
        if kind not in KINDS:
            raise SigningError(f"unknown kind {kind!r}; one of {KINDS}")
        self.make()
        out = Path(out)
        out.parent.mkdir(parents=True, exist_ok=True)
        if out.exists():
            out.unlink()
        if kind == "unsigned":
            shutil.copyfile(exe, out)
            return out
        signer, extra_certs = _SIGNED_AS[kind]
        twins = self.folder / "twins.pem" if kind.startswith("twin") else None
        self._osslsign(exe, out, signer, extra_certs, certs=twins)
        if kind == "modified":
            flip_code_byte(out)
        elif kind == "twin":
            self._order_bag(out, "other", "twin")
        elif kind == "twin_first":
            self._order_bag(out, "twin", "other")
        return out


def _code_section_offset(data):
    """File offset of the first byte of the first executable section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SigningError("not a PE file")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for index in range(sections):
        entry = table + 40 * index
        raw_size, raw_pointer = struct.unpack_from("<II", data, entry + 16)
        characteristics = struct.unpack_from("<I", data, entry + 36)[0]
        if characteristics & 0x20000000 and raw_size > 0:  # IMAGE_SCN_MEM_EXECUTE
            return raw_pointer
    raise SigningError("no code section")


def flip_code_byte(path):
    """Changes one byte inside the code section, which the signature's hash
    covers. (Data appended after the signature is no good for this: Wine then
    reports the file as unsigned rather than altered.)"""
    data = bytearray(Path(path).read_bytes())
    offset = _code_section_offset(data) + 16
    data[offset] ^= 0xFF
    Path(path).write_bytes(bytes(data))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("kind", choices=KINDS)
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("--dir", help="where the test PKI is kept (default: a new "
                        "temporary folder)")
    args = parser.parse_args(argv)
    folder = args.dir or tempfile.mkdtemp(prefix="tsdlm-signing-")
    SigningKit(folder).sign(args.source, args.kind, args.target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
