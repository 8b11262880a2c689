# Installs a Homebrew formula from its release's source tarball and runs its test block, as far as
# that goes without Homebrew: ruby scripts/check_formula.rb FORMULA DIST LIBRARY_DIR.
# A stand-in for the part of Homebrew's formula DSL that the formula uses. The formula must
# depend on libftdi and on cmake for the build; its url must end in the name of a file in DIST
# with the formula's sha256. The tarball is unpacked, and install runs in its top folder into a
# temporary prefix; the test block then runs in a folder of its own, with LIBRARY_DIR alone on the
# loader's path: the build's driver libraries without calls, so that the tool reaches no driver of
# the machine. The test must run the installed tool with more than --version or --help.
require "digest"
require "English"
require "etc"
require "pathname"
require "tmpdir"

class Formula
  class << self
    attr_reader :fields, :dependencies, :test_block

    def inherited(formula)
      super
      @formula = formula
    end

    def latest = @formula

    %i[desc homepage url sha256 license].each do |field|
      define_method(field) { |value| (@fields ||= {})[field] = value }
    end

    def head(url, branch:) = (@fields ||= {})[:head] = [url, branch]
    def depends_on(dependency) = (@dependencies ||= []) << dependency
    def test(&block) = @test_block = block
  end

  attr_reader :prefix, :testpath, :commands

  def initialize(prefix, testpath)
    @prefix = Pathname(prefix)
    @testpath = Pathname(testpath)
    @commands = []
  end

  def bin = prefix/"bin"
  def lib = prefix/"lib"
  def opt_lib = lib
  def share = prefix/"share"
  def man1 = share/"man/man1"

  def std_cmake_args
    %W[-DCMAKE_INSTALL_PREFIX=#{prefix} -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_FIND_FRAMEWORK=LAST -DCMAKE_VERBOSE_MAKEFILE=ON -Wno-dev -DBUILD_TESTING=OFF]
  end

  def system(*args)
    puts "==> #{args.join(" ")}"
    Kernel.system(*args.map(&:to_s)) || raise("failed: #{args.join(" ")}")
  end

  def shell_output(cmd, result = 0)
    @commands << cmd.to_s
    output = `#{cmd}`
    assert_equal result, $CHILD_STATUS.exitstatus, "exit status of #{cmd}"
    output
  end

  def pipe_output(cmd, input = nil, result = nil)
    @commands << cmd.to_s
    output = IO.popen(cmd.to_s, "w+") do |pipe|
      pipe.write(input) unless input.nil?
      pipe.close_write
      pipe.read
    end
    assert_equal result, $CHILD_STATUS.exitstatus, "exit status of #{cmd}" unless result.nil?
    output
  end

  def assert_equal(expected, actual, what = "value")
    raise "#{what}: expected #{expected.inspect}, got #{actual.inspect}" unless expected == actual
  end

  def assert_match(pattern, text)
    found = pattern.is_a?(Regexp) ? pattern.match?(text) : text.include?(pattern)
    raise "#{pattern.inspect} is not in:\n#{text}" unless found
  end
end

# The declarations that Homebrew and the release rely on; the tarball that the url names.
def release_tarball(formula, dist)
  fields = formula.fields
  %i[desc homepage url sha256 license head].each { |field| raise "the formula has no #{field}" unless fields[field] }
  raise "the formula does not depend on libftdi" unless formula.dependencies.include?("libftdi")
  raise "the formula does not build with cmake" unless formula.dependencies.include?("cmake" => :build)
  tarball = File.join(dist, File.basename(fields[:url]))
  digest = Digest::SHA256.file(tarball).hexdigest
  raise "#{tarball} has sha256 #{digest}, the formula says #{fields[:sha256]}" unless digest == fields[:sha256]
  tarball
end

# Unpacks the tarball in work and runs install in its one top folder.
def install_from(instance, tarball, work)
  source = File.join(work, "source")
  Dir.mkdir(source)
  instance.system "tar", "-xzf", tarball, "-C", source
  top = Dir.children(source)
  raise "#{tarball} holds #{top}, not one folder" unless top.length == 1
  ENV["MAKEFLAGS"] = "-j#{Etc.nprocessors}"
  Dir.chdir(File.join(source, top.first)) { instance.install }
end

def run_test(formula, instance, library_dir)
  Dir.mkdir(instance.testpath)
  Dir.chdir(instance.testpath) do
    ENV["HOME"] = instance.testpath.to_s
    ENV["LD_LIBRARY_PATH"] = library_dir
    ENV["DYLD_LIBRARY_PATH"] = library_dir
    instance.instance_eval(&formula.test_block)
  end
  tool = (instance.bin/"brevinmarquest").to_s
  runs = instance.commands.select { |cmd| cmd.include?(tool) && !cmd.match?(/--(version|help)\b/) }
  raise "the test block never runs #{tool} for real" if runs.empty?
  runs
end

formula_file, dist, library_dir = ARGV.map { |arg| File.expand_path(arg) }
load formula_file
formula = Formula.latest
tarball = release_tarball(formula, dist)
Dir.mktmpdir do |work|
  instance = formula.new(File.join(work, "prefix"), File.join(work, "test"))
  install_from(instance, tarball, work)
  puts instance.caveats
  runs = run_test(formula, instance, library_dir)
  puts "the formula installs from #{File.basename(tarball)} and its test runs: #{runs.join("; ")}"
end
