#!/usr/bin/python3
"""Signed bootstrap documents for the hosted tests, made independently of
the client: bed_reference.py encodes them and `openssl pkeyutl` signs the
record's bytes (RSASSA-PSS, SHA-256, MGF1-SHA-256).

  keys DIR        a test CA and signers made by openssl in DIR: ca, signer
                  (127.0.0.1 and localhost), other (other.test), ec (P-256),
                  outca and out (a signer under another CA)
  doc DESC OUT    writes the document that the JSON file DESC describes:
    uris, count, discovery, maxAge, maxBackoff, validFrom (ticks; default
    now), params ([name, value] pairs after "certificates" and
    "algorithm"), key (PEM path, none: unsigned), certs (PEM paths),
    algorithm (default "zarn/rsapss-sha256"), alter (one of "flip": a
    signature byte flipped, "reencode": the record written again without
    repeated texts, "prepend": an entry put before the record with the
    signed bytes unchanged)
  vendor DESC OUT writes a vendor configuration package: certs (PEM paths;
                  "bad" stands for a damaged one), bootstrap (a doc DESC, or
                  none), sections (more sections: name to text)
"""
import datetime
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bed_reference as bed  # noqa: E402


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_keys(d):
    def key(name, ec=False):
        alg = ["-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"] if ec else \
              ["-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"]
        openssl("genpkey", *alg, "-out", f"{d}/{name}.key")

    def ca(name, cn):
        key(name)
        openssl("req", "-x509", "-new", "-sha256", "-days", "3650", "-key", f"{d}/{name}.key",
                "-subj", f"/O=Test/CN={cn}", "-out", f"{d}/{name}.pem",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def leaf(name, issuer, san, ec=False):
        key(name, ec)
        with open(f"{d}/{name}.ext", "w") as f:
            f.write(f"subjectAltName={san}\nextendedKeyUsage=serverAuth\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\n"
                    "basicConstraints=CA:FALSE\n")
        openssl("req", "-new", "-key", f"{d}/{name}.key", "-subj", f"/O=Test/CN={name}",
                "-out", f"{d}/{name}.csr")
        openssl("x509", "-req", "-sha256", "-days", "365", "-in", f"{d}/{name}.csr",
                "-CA", f"{d}/{issuer}.pem", "-CAkey", f"{d}/{issuer}.key", "-CAcreateserial",
                "-extfile", f"{d}/{name}.ext", "-out", f"{d}/{name}.pem")

    ca("ca", "Bootstrap Test Root")
    ca("outca", "Outside Root")
    leaf("signer", "ca", "IP:127.0.0.1,DNS:localhost")
    leaf("other", "ca", "DNS:other.test")
    leaf("ec", "ca", "IP:127.0.0.1", ec=True)
    leaf("out", "outca", "IP:127.0.0.1")


def now_ticks():
    t = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0, tzinfo=None)
    return bed.ticks_of(t.year, t.month, t.day, t.hour, t.minute, t.second, 0)


class FullEncoder(bed.Encoder):
    """Writes every text in full: the same values in other bytes."""

    def text(self, s):
        self.data(0, s.encode())


def sign(key, data):
    with tempfile.TemporaryDirectory() as tmp:
        with open(f"{tmp}/in", "wb") as f:
            f.write(data)
        opts = ["-pkeyopt", "rsa_padding_mode:pss", "-pkeyopt", "rsa_pss_saltlen:32",
                "-pkeyopt", "rsa_mgf1_md:sha256"]
        text = subprocess.run(["openssl", "pkey", "-in", key, "-noout", "-text"], check=True,
                              capture_output=True, text=True).stdout
        if "ASN1 OID" in text:
            opts = []
        openssl("pkeyutl", "-sign", "-rawin", "-digest", "sha256", "-inkey", key,
                "-in", f"{tmp}/in", "-out", f"{tmp}/sig", *opts)
        return open(f"{tmp}/sig", "rb").read()


def make_doc(desc):
    params = []
    if desc.get("certs"):
        params.append(("certificates", "".join(open(p).read() for p in desc["certs"])))
    if desc.get("key"):
        params.append(("algorithm", desc.get("algorithm", "zarn/rsapss-sha256")))
    params += [tuple(p) for p in desc.get("params", [])]
    record = ("map", [
        ("any/parameters", ("seq", [("map", [("any/name", ("str", n)), ("any/value", ("str", v))])
                                    for n, v in params])),
        ("any/valid-from", ("time", desc.get("validFrom", now_ticks()))),
        ("btp/bootstrap-uris", ("seq", [("str", u) for u in desc.get("uris", [])])),
        ("btp/config-count", ("int", desc.get("count", 1))),
        ("btp/initial-discovery-uri", ("str", desc.get("discovery", ""))),
        ("btp/max-age-secs", ("int", desc.get("maxAge", 3600))),
        ("btp/max-backoff-secs", ("int", desc.get("maxBackoff", 300))),
    ])
    alter = desc.get("alter")
    e = bed.Encoder()
    e.out.append(0xE0)
    e.signed(1, 4 if desc.get("key") else 2)
    e.text("any/signed-data")
    start = len(e.out)
    e.value(record)
    signed = bytes(e.out[start:])
    if not desc.get("key"):
        return bytes(e.out)
    sig = bytearray(sign(desc["key"], signed))
    if alter == "flip":
        sig[len(sig) // 2] ^= 1
    if alter == "reencode":
        r = FullEncoder()
        r.value(record)
        assert r.out != signed
        e.out = e.out[:start] + r.out
    if alter == "prepend":
        e = bed.Encoder()
        e.out.append(0xE0)
        e.signed(1, 6)
        e.text("zarn/note")
        e.text("x")
        e.text("any/signed-data")
        e.out += signed
    e.text("any/signed-data-signature")
    e.data(1, bytes(sig))
    return bytes(e.out)


def main():
    if sys.argv[1] == "keys":
        make_keys(sys.argv[2])
    elif sys.argv[1] == "doc":
        with open(sys.argv[2]) as f:
            desc = json.load(f)
        with open(sys.argv[3], "wb") as f:
            f.write(make_doc(desc))
    elif sys.argv[1] == "vendor":
        with open(sys.argv[2]) as f:
            desc = json.load(f)
        sections = {n.encode(): t.encode() for n, t in desc.get("sections", {}).items()}
        if "certs" in desc:
            pems = ["-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"
                    if p == "bad" else open(p).read() for p in desc["certs"]]
            sections[b"vendorCfg.Certificates"] = bed.encode(("map", [("certificates", ("seq", [
                ("map", [("zarn/PEM-certificate", ("str", pem))]) for pem in pems]))]))
        if desc.get("bootstrap") is not None:
            sections[b"vendorCfg.BootstrapConfig"] = make_doc(desc["bootstrap"])
        with open(sys.argv[3], "wb") as f:
            f.write(bed.encode_package(sections))
    else:
        sys.exit("unknown command " + sys.argv[1])


if __name__ == "__main__":
    main()
