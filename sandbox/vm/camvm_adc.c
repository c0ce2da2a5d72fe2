// SPDX-License-Identifier: GPL-2.0
/*
 * camvm_adc - the emulated camera's light-sensor ADC: one IIO device with
 * the voltage channels 0, 1 and 2, each a raw reading of 0 to 65535 that
 * the IIO core serves as in_voltageN_raw.
 *
 * The readings are the module parameters raw0, raw1 and raw2. Given at
 * load, "-" leaves that channel out, so that its file does not exist, as
 * on a camera whose ADC lacks it. Written later (as root, under
 * /sys/module/camvm_adc/parameters/), a number changes what the next read
 * of that channel returns; "-", anything but a decimal number, a value
 * beyond 65535, and a channel that was left out are refused, the written
 * value then staying as it was. The channel files themselves refuse every
 * write (the IIO core answers EINVAL: the driver has no write_raw), as an
 * ADC's do.
 */
#include <linux/iio/iio.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/platform_device.h>

#define CAMVM_ADC_NAME "camvm-adc"
#define CAMVM_ADC_CHANNELS 3
#define CAMVM_ADC_MAX 65535
#define CAMVM_ADC_ABSENT (-1)

static int camvm_adc_raw[CAMVM_ADC_CHANNELS] = {1000, 1000, 1000};
/* Set once the channels are laid out; from then on none comes or goes. */
static bool camvm_adc_fixed;
/* Whether the probe made the device: a failed one fails the load. */
static bool camvm_adc_made;

static int camvm_adc_param_set(const char *val, const struct kernel_param *kp)
{
	int *raw = kp->arg;
	unsigned int v;
	int ret;

	if (sysfs_streq(val, "-")) {
		if (camvm_adc_fixed)
			return -EINVAL;
		*raw = CAMVM_ADC_ABSENT;
		return 0;
	}
	/* A reading for no file would be taken for one the tool reads. */
	if (camvm_adc_fixed && READ_ONCE(*raw) == CAMVM_ADC_ABSENT)
		return -ENODEV;
	ret = kstrtouint(val, 10, &v);
	if (ret)
		return ret;
	if (v > CAMVM_ADC_MAX)
		return -ERANGE;
	WRITE_ONCE(*raw, v);
	return 0;
}

static int camvm_adc_param_get(char *buffer, const struct kernel_param *kp)
{
	int raw = READ_ONCE(*(int *)kp->arg);

	if (raw == CAMVM_ADC_ABSENT)
		return scnprintf(buffer, PAGE_SIZE, "-\n");
	return scnprintf(buffer, PAGE_SIZE, "%d\n", raw);
}

static const struct kernel_param_ops camvm_adc_param_ops = {
	.set = camvm_adc_param_set,
	.get = camvm_adc_param_get,
};

module_param_cb(raw0, &camvm_adc_param_ops, &camvm_adc_raw[0], 0644);
MODULE_PARM_DESC(raw0, "channel 0's reading (0-65535), or - at load for no channel 0");
module_param_cb(raw1, &camvm_adc_param_ops, &camvm_adc_raw[1], 0644);
MODULE_PARM_DESC(raw1, "channel 1's reading (0-65535), or - at load for no channel 1");
module_param_cb(raw2, &camvm_adc_param_ops, &camvm_adc_raw[2], 0644);
MODULE_PARM_DESC(raw2, "channel 2's reading (0-65535), or - at load for no channel 2");

static int camvm_adc_read_raw(struct iio_dev *indio_dev, struct iio_chan_spec const *chan, int *val,
			      int *val2, long mask)
{
	if (mask != IIO_CHAN_INFO_RAW)
		return -EINVAL;
	*val = READ_ONCE(camvm_adc_raw[chan->channel]);
	return IIO_VAL_INT;
}

static const struct iio_info camvm_adc_info = {
	.read_raw = camvm_adc_read_raw,
};

static int camvm_adc_probe(struct platform_device *pdev)
{
	struct iio_chan_spec *channels;
	struct iio_dev *indio_dev;
	int i, n = 0, ret;

	indio_dev = devm_iio_device_alloc(&pdev->dev, 0);
	channels = devm_kcalloc(&pdev->dev, CAMVM_ADC_CHANNELS, sizeof(*channels), GFP_KERNEL);
	if (!indio_dev || !channels)
		return -ENOMEM;
	for (i = 0; i < CAMVM_ADC_CHANNELS; i++) {
		if (camvm_adc_raw[i] == CAMVM_ADC_ABSENT)
			continue;
		channels[n].type = IIO_VOLTAGE;
		channels[n].indexed = 1;
		channels[n].channel = i;
		channels[n].info_mask_separate = BIT(IIO_CHAN_INFO_RAW);
		n++;
	}
	indio_dev->name = CAMVM_ADC_NAME;
	indio_dev->info = &camvm_adc_info;
	indio_dev->modes = INDIO_DIRECT_MODE;
	indio_dev->channels = channels;
	indio_dev->num_channels = n;
	ret = devm_iio_device_register(&pdev->dev, indio_dev);
	camvm_adc_made = !ret;
	return ret;
}

static struct platform_driver camvm_adc_driver = {
	.driver = {
		.name = CAMVM_ADC_NAME,
		/* The files are there when insmod returns. */
		.probe_type = PROBE_FORCE_SYNCHRONOUS,
	},
	.probe = camvm_adc_probe,
};

static struct platform_device *camvm_adc_device;

static int __init camvm_adc_init(void)
{
	int ret;

	/* Parameter writes take this lock: none is half-way through here. */
	kernel_param_lock(THIS_MODULE);
	camvm_adc_fixed = true;
	kernel_param_unlock(THIS_MODULE);

	ret = platform_driver_register(&camvm_adc_driver);
	if (ret)
		return ret;
	camvm_adc_device = platform_device_register_simple(CAMVM_ADC_NAME, PLATFORM_DEVID_NONE, NULL, 0);
	if (IS_ERR(camvm_adc_device)) {
		platform_driver_unregister(&camvm_adc_driver);
		return PTR_ERR(camvm_adc_device);
	}
	/* A probe that failed leaves the device without its driver, and the
	 * camera without an ADC: that is no load. */
	if (!camvm_adc_made) {
		platform_device_unregister(camvm_adc_device);
		platform_driver_unregister(&camvm_adc_driver);
		return -ENODEV;
	}
	return 0;
}

static void __exit camvm_adc_exit(void)
{
	platform_device_unregister(camvm_adc_device);
	platform_driver_unregister(&camvm_adc_driver);
}

module_init(camvm_adc_init);
module_exit(camvm_adc_exit);

MODULE_DESCRIPTION("The emulated camera's light-sensor ADC");
MODULE_LICENSE("GPL");
