# The release rewrites this formula for its own files (scripts/package-manifests): desc, homepage,
# url, sha256 and head come from the release, the rest from here.
class Brevinmarquest < Formula
  desc "Sends bit-stream files and typed bytes to an FTDI USB device"
  homepage "https://github.com/brevinmarquest/brevinmarquest"
  url "https://github.com/brevinmarquest/brevinmarquest/releases/download/v1.0.0/brevinmarquest-1.0.0.tar.gz"
  sha256 "141d3b9d4b31ca2bbd28365e421329593706e571245e23c633636e88d9d0922f"
  license "MIT"
  head "https://github.com/brevinmarquest/brevinmarquest.git", branch: "main"

  depends_on "cmake" => :build
  # The tool loads it at run time when FTDI's own D2XX library is not installed.
  depends_on "libftdi"

  def install
    system "cmake", "-S", ".", "-B", "build", "-DBUILD_TESTING=OFF", *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  def caveats
    <<~EOS
      On Linux, members of the plugdev group and the user at the machine may open FTDI devices
      only once the udev rule is in one of udev's folders:
        sudo cp #{opt_lib}/udev/rules.d/60-brevinmarquest.rules /etc/udev/rules.d/
        sudo udevadm control --reload-rules && sudo udevadm trigger
        sudo usermod -aG plugdev "$USER"
      and the kernel's ftdi_sio driver must let go of the device: sudo rmmod ftdi_sio
    EOS
  end

  test do
    # No device is attached where tests run: hand entry's open fails and says so, and the session
    # still ends with Q, which counts as a whole one. Nothing is sent even where a device opens.
    output = pipe_output("#{bin}/brevinmarquest", "H\nQ\nQ\n", 0)
    assert_match "[H]and enter bytes to send to USB", output
    assert_match(/^ERROR opening USB!  Code \d+\.$/, output)
    # Input that ends before Q is a session that did not run to its end.
    assert_match "standard input ended before Q", shell_output("#{bin}/brevinmarquest 2>&1 </dev/null", 1)
  end
end
